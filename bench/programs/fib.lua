-- The call-heavy twin: fib of the first argument by the doubly recursive
-- definition, so nearly all the time goes into calls and returns.

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end

print("checksum: " .. fib(tonumber(arg[1])))
