-- Makes one benchmarked call `n` times, for an instruction count:
--   valgrind --tool=callgrind lua5.3 bench/count.lua CASE N
local cases = require "cases"
local name, n = arg[1], tonumber(arg[2])
local case = name == "dump" and cases.dump(1000).quelto or cases[name]
assert(case, "no case " .. tostring(name))
case.run(n)
