local p = {x = 0, y = 0}
for i = 1, 1500000 do p.x = p.x + 1 p.y = p.x - p.y end
print(p.x .. " " .. p.y)
