-- Builds the text of every integer from 1 to n, each followed by a space,
-- the Lua way (parts in a table, one concat); the checksum is its length.

local n = tonumber(arg[1])
local parts = {}
for i = 1, n do
  parts[#parts + 1] = tostring(i)
  parts[#parts + 1] = " "
end
local text = table.concat(parts)
print("checksum: " .. #text)
