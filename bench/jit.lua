-- The figures on LuaJIT, where the logger methods are Lua functions that the
-- JIT compiles: a filtered call against the C function behind it and the
-- peers' no-ops, a hot loop with and without one, admitted calls against
-- lua-logging, and the filtered call with the JIT off.
--   luajit bench/jit.lua [rounds]     (make bench sets the paths)
-- The lua-logging targets are the ratios of the 5.3 run (run.lua), read from
-- the file named by BENCH_RATIOS when it has written one.
assert(jit, "bench/jit.lua measures LuaJIT: run it with luajit")
local cases = require "cases"
local timing = require "timing"
local run = timing.new(tonumber(arg[1]) or 7, cases.check)

local on_53 = { scalar = 2, dump = 16, from = "today's 5.3 figures" }
local ratios_file = os.getenv("BENCH_RATIOS")
local f = ratios_file and io.open(ratios_file, "r")
if f then
  local text = f:read("*a")
  f:close()
  on_53.scalar = tonumber(text:match("scalar=([%d.]+)")) or on_53.scalar
  on_53.dump = tonumber(text:match("dump=([%d.]+)")) or on_53.dump
  on_53.from = "this run's 5.3 figures"
end

-- Filtered calls.
run:measure({ cases.filtered, cases.filtered_c, cases.empty_lua, cases.lualog_disabled })
local r = run:ratios(cases.filtered_c, cases.filtered)
run:row("filtered call", cases.filtered_c, cases.filtered, r, "≥ 8x", r.median >= 8)
run:note(string.format("C function/filtered %.1fx", r.median))
r = run:ratios(cases.filtered, cases.lualog_disabled)
run:row("filtered call", cases.filtered, cases.lualog_disabled, r, "≤ 8x", r.median <= 8)
run:note(string.format("filtered/lua-logging disabled %.1fx", r.median))
run:row("filtered call", cases.filtered, cases.empty_lua,
        run:ratios(cases.filtered, cases.empty_lua))

-- A hot loop.
run:measure({ cases.loop, cases.loop_filtered, cases.loop_filtered_c })
r = run:ratios(cases.loop_filtered, cases.loop)
run:row("hot loop", cases.loop_filtered, cases.loop, r, "≤ 2x", r.median <= 2)
run:note(string.format("loop with filtered call/bare loop %.2fx", r.median))
run:row("hot loop", cases.loop_filtered_c, cases.loop, run:ratios(cases.loop_filtered_c, cases.loop))

-- Admitted calls against lua-logging, at least as far ahead as on 5.3.
run:measure({ cases.admitted, cases.lualog, cases.admitted_c })
run:row("admitted scalar", cases.admitted, cases.admitted_c,
        run:ratios(cases.admitted, cases.admitted_c))
r = run:ratios(cases.lualog, cases.admitted)
local target = string.format("≥ %.1fx", on_53.scalar)
run:row("admitted scalar", cases.lualog, cases.admitted, r, target, r.median >= on_53.scalar)
run:note(string.format("lua-logging/admitted %.1fx (5.3: %.1fx)", r.median, on_53.scalar))
local d = cases.dump(1000)
run:measure({ d.quelto, d.lualog }, 0.1)
r = run:ratios(d.lualog, d.quelto)
target = string.format("≥ %.1fx", on_53.dump)
run:row("table dump", d.lualog, d.quelto, r, target, r.median >= on_53.dump)
run:note(string.format("lua-logging/dump %.1fx (5.3: %.1fx)", r.median, on_53.dump))

-- The filtered call where LuaJIT does not compile it: interpreted, its FFI
-- call costs more than the C function's call.
jit.off()
jit.flush()
local function interpreted(case)
  return { name = case.name .. ", JIT off", expect = case.expect, run = case.run }
end
local off, off_c = interpreted(cases.filtered), interpreted(cases.filtered_c)
run:measure({ off, off_c })
run:row("JIT off", off, off_c, run:ratios(off, off_c))
jit.on()

print("LuaJIT " .. jit.version:match("[%d.]+%S*") .. "; lua-logging targets from " .. on_53.from
      .. ".\n")
run:print_rows()
os.exit(run:finish() and 0 or 1)
