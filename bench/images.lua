-- An image as a table of {r, g, b, a} pixels; its text as Kel molds it.
local width, height = 1000, 1000
local count = width * height
local img = {}
for i = 1, count do img[i] = {255, 255, 255, 0} end
local colours = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}}
for n = 1, count do img[n] = colours[n % 3 + 1] end
local parts = {string.format("make image! [%dx%d #{\n    ", width, height)}
for i = 1, count do
    local p = img[i]
    parts[#parts + 1] = string.format("%02X%02X%02X", p[1], p[2], p[3])
    if i % 10 == 0 then parts[#parts + 1] = (i == count) and "\n" or "\n    " end
end
parts[#parts + 1] = "}]"
local text = table.concat(parts)
local function tuple(p) return string.format("%d.%d.%d.%d", p[1], p[2], p[3], p[4]) end
print(#text .. " " .. tuple(img[1]) .. " " .. tuple(img[count]))
