-- Puts n string keys "k1" .. "kn" into a table, each with its number, then
-- looks every key up again.

local n = tonumber(arg[1])
local map, size = {}, 0
for i = 1, n do
  local key = "k" .. i
  if map[key] == nil then size = size + 1 end
  map[key] = i
end
local found = 0
for i = 1, n do
  if map["k" .. i] == i then found = found + 1 end
end
print("checksum: " .. size .. " " .. found)
