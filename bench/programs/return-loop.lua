-- Calls one of two functions n times. Both run one round of a loop that
-- adds 1 to the argument; the first returns from inside the loop, the
-- second after it. The second argument ("return" or "fall") picks one.

local function returns_from_loop(x)
  for _ = 1, 1 do return x + 1 end
end

local function falls_off_end(x)
  local result
  for _ = 1, 1 do result = x + 1 end
  return result
end

local n = tonumber(arg[1])
local step = arg[2] == "return" and returns_from_loop or falls_off_end
local total = 0
for _ = 1, n do total = total + step(1) end
print("checksum: " .. total)
