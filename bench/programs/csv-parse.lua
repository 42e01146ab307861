-- Splits the CSV text the driver generated into fields with Lua patterns:
-- a quoted field runs to the next double quote (commas included), a plain
-- one to the next comma or line feed; every row ends with a line feed.

local file = assert(io.open(arg[1], "rb"))
local text = file:read("a")
file:close()

local QUOTE, LINE_FEED = 34, 10
local rows, fields, chars = 0, 0, 0
local position, length = 1, #text
while position <= length do
  local stop
  if text:byte(position) == QUOTE then
    local closing = text:find('"', position + 1, true)
    chars = chars + (closing - position - 1)
    stop = closing + 1
  else
    stop = text:find("[,\n]", position)
    chars = chars + (stop - position)
  end
  fields = fields + 1
  if text:byte(stop) == LINE_FEED then rows = rows + 1 end
  position = stop + 1
end
print("checksum: " .. rows .. " " .. fields .. " " .. chars)
