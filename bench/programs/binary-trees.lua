-- Allocation and collection under load: full binary trees of two-slot
-- tables (a leaf holds two falses), built and counted bottom-up. For a
-- maximum depth d: one stretch tree of depth d + 1, one tree of depth d kept
-- alive throughout, and for each depth from 4 to d in steps of 2,
-- 2^(d - depth + 4) short-lived trees.

local function bottom_up(depth)
  if depth > 0 then
    depth = depth - 1
    return { bottom_up(depth), bottom_up(depth) }
  end
  return { false, false }
end

local function check(tree)
  if not tree[1] then return 1 end
  return 1 + check(tree[1]) + check(tree[2])
end

local min_depth = 4
local max_depth = tonumber(arg[1])

local total = check(bottom_up(max_depth + 1))
local long_lived = bottom_up(max_depth)
for depth = min_depth, max_depth, 2 do
  local iterations = 1 << (max_depth - depth + min_depth)
  for _ = 1, iterations do total = total + check(bottom_up(depth)) end
end
total = total + check(long_lived)
print("checksum: " .. total)
