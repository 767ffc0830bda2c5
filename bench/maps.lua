local m, n = {}, 0
for i = 1, 200000 do
    m[i] = i * 2
    m[tostring(i)] = i
    n = n + 2
end
local s = 0
for i = 1, 200000 do if m[i] == i * 2 then s = s + 1 end end
for i = 1, 200000 do if m[tostring(i)] == i then s = s + 1 end end
for i = 1, 100000 do m[i] = 0 end
for i = 1, 200000 do if m[i] == 0 then s = s + 1 end end
print(n .. " " .. s)
