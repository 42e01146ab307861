-- Loads the generated Lua source (one table constructor returning the
-- records: an id, a string, a float, a boolean and a table of strings).

local records = dofile(arg[1])
print("checksum: " .. #records .. " " .. records[#records][1])
