-- Reads the random integers the driver generated (one per line, below
-- 10^6), sorts them, and sums every 1000th element of the result.

local file = assert(io.open(arg[1], "rb"))
local text = file:read("a")
file:close()

local numbers, n = {}, 0
for digits in text:gmatch("%d+") do
  n = n + 1
  numbers[n] = tonumber(digits)
end
table.sort(numbers)

local total = 0
for position = 1000, n, 1000 do total = total + numbers[position] end
print("checksum: " .. n .. " " .. total)
