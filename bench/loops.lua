local n = 0
for i = 1, 5000000 do n = n + 3 if n > 1000 then n = n - 1000 end end
local i = 0
while i < 2000000 do i = i + 1 n = n + 1 end
print(n)
