-- Dates as a day count from 1 March of year 0 and seconds of the day.
local MONTHS = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"}

local function to_days(y, m, d)
  local mm = (m + 9) % 12
  local yy = y - mm // 10
  return 365 * yy + yy // 4 - yy // 100 + yy // 400 + (mm * 306 + 5) // 10 + (d - 1)
end

local function from_days(g)
  local y = (10000 * g + 14780) // 3652425
  local r = g - (365 * y + y // 4 - y // 100 + y // 400)
  if r < 0 then
    y = y - 1
    r = g - (365 * y + y // 4 - y // 100 + y // 400)
  end
  local mi = (100 * r + 52) // 3060
  return y + (mi + 2) // 12, (mi + 2) % 12 + 1, r - (mi * 306 + 5) // 10 + 1
end

local function add(days, secs, n_days, n_secs)
  days, secs = days + n_days, secs + n_secs
  return days + secs // 86400, secs % 86400
end

local function text(days, secs)
  local y, m, d = from_days(days)
  return string.format("%d-%s-%04d/%d:%02d:%02d", d, MONTHS[m], y, secs // 3600, secs % 3600 // 60, secs % 60)
end

local days, secs = to_days(2000, 1, 1), 0
for i = 1, 2000000 do
  days, secs = add(days, secs, 1, 0)
  days, secs = add(days, secs, 0, 1)
end
print(text(days, secs))
local x, y = 1, 7
local b = {}
local base = to_days(2000, 1, 1)
for i = 1, 1000000 do
  x = (x * 75 + 74) % 65537
  y = (y * 69069 + 1) % 86400
  local dd, ss = add(base, 0, x, y)
  b[i] = dd * 86400 + ss
end
table.sort(b)
local function at(i) return text(b[i] // 86400, b[i] % 86400) end
print(at(1) .. " " .. at(#b) .. " " .. at(500000))
