local x, b = 1, {}
for i = 1, 200000 do x = (x * 75 + 74) % 65537 b[#b + 1] = x end
table.sort(b)
print(b[1] .. " " .. b[#b] .. " " .. b[100000])
