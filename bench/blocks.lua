local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
local s = 0
for _, x in ipairs(b) do if x > 500000 then s = s + 1 end end
print(#b .. " " .. s)
