local function f(a, b) local t = a + b local u = t - a return u + t - b end
local s = 0
for i = 1, 1000000 do s = f(s, 1) end
print(s)
