-- Arguments: n, finds, stride, kind. Holds 1 .. n in a table keyed by value
-- (kind "hash") or in a sequence searched from the front (kind "block"),
-- then finds `finds` values, each `stride` past the one before, wrapping
-- round n. The driver subtracts a run with finds = 0.

local n, finds, stride, kind = tonumber(arg[1]), tonumber(arg[2]), tonumber(arg[3]), arg[4]

local values = {}
for i = 1, n do values[i] = i end

local find
if kind == "hash" then
  local positions = {}
  for i = 1, n do positions[values[i]] = i end
  find = function(wanted) return positions[wanted] end
else
  find = function(wanted)
    for i = 1, #values do
      if values[i] == wanted then return i end
    end
    return nil
  end
end

local found, wanted = 0, 0
for _ = 1, finds do
  wanted = wanted + stride
  if wanted > n then wanted = wanted - n end
  if find(wanted) then found = found + 1 end
end
print("checksum: " .. found)
