-- posixpath.normpath and split for absolute names, written out
local function normpath(p)
  local out = {}
  for part in p:gmatch("[^/]+") do
    if part == ".." then out[#out] = nil elseif part ~= "." then out[#out + 1] = part end
  end
  return "/" .. table.concat(out, "/")
end
local n = 0
for i = 1, 20000 do
  local p = normpath("/usr/local/" .. i .. "/../lib/./x" .. i .. ".txt")
  n = n + #p:match("[^/]*$")
end
print(n)
