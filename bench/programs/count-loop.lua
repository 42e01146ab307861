-- The interpreter's inner loop: one addition and one assignment per round,
-- n rounds.

local n = tonumber(arg[1])
local total = 0
for i = 1, n do total = total + 1 end
print("checksum: " .. total)
