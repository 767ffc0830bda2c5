-- Amounts in units of 0.00001 held in 64-bit integers: exact while they
-- stay below 2^63, as they do here.
local acc = 0
local price = 123456
for i = 1, 500000 do
    local p = price * i
    acc = acc + p // 7
end
local cents = acc // 1000
local whole = tostring(cents // 100)
local grouped = whole:reverse():gsub("(%d%d%d)", "%1'"):reverse():gsub("^'", "")
print(string.format("$%s.%02d", grouped, cents % 100))
