local parts = {}
for i = 1, 200000 do parts[#parts + 1] = tostring(i) end
local text = table.concat(parts, " ")
local loaded = {}
for x in text:gmatch("%S+") do loaded[#loaded + 1] = tonumber(x) end
print(#text .. " " .. #loaded .. " " .. loaded[#loaded])
