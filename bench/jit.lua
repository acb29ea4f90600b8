-- The figures on LuaJIT, where the logger methods are Lua functions that the
-- JIT compiles: a filtered call against the C function behind it and the
-- peers' no-ops, a hot loop with and without one, an admitted call against
-- the C function, and the filtered call with the JIT off. (The admitted call
-- and the dump against lua-logging, per interpreter: bench/interpreters.lua.)
--   luajit bench/jit.lua [rounds]     (make bench sets the paths)
assert(jit, "bench/jit.lua measures LuaJIT: run it with luajit")
local cases = require "cases"
local timing = require "timing"
local run = timing.new(tonumber(arg[1]) or 7, cases.check)

-- Filtered calls.
run:measure({ cases.filtered, cases.filtered_c, cases.empty_lua, cases.lualog_disabled,
              cases.chained_1, cases.chained, cases.chained_8 })
local r = run:ratios(cases.filtered_c, cases.filtered)
run:row("filtered call", cases.filtered_c, cases.filtered, r, "≥ 8x", r.median >= 8)
run:note(string.format("C function/filtered %.1fx", r.median))
r = run:ratios(cases.filtered, cases.lualog_disabled)
run:row("filtered call", cases.filtered, cases.lualog_disabled, r, "≤ 8x", r.median <= 8)
run:note(string.format("filtered/lua-logging disabled %.1fx", r.median))
run:row("filtered call", cases.filtered, cases.empty_lua,
        run:ratios(cases.filtered, cases.empty_lua))
for _, case in ipairs { cases.chained_1, cases.chained, cases.chained_8 } do
  r = run:ratios(case, cases.filtered)
  run:row("chained gate", case, cases.filtered, r, "≤ 1.3x", r.median <= 1.3)
  run:note(string.format("%s/own-filtered %.2fx", case.name, r.median))
end
run:row("chained gate", cases.chained, cases.lualog_disabled,
        run:ratios(cases.chained, cases.lualog_disabled))

-- Loggers with every other option, and loggers of with: the same compiled call.
run:measure({ cases.filtered, cases.filtered_options, cases.filtered_with, cases.chained,
              cases.chained_with })
for _, pair in ipairs { { cases.filtered_options, cases.filtered },
                        { cases.filtered_with, cases.filtered },
                        { cases.chained_with, cases.chained } } do
  r = run:ratios(pair[1], pair[2])
  run:row("new options", pair[1], pair[2], r, "≤ 1.2x", r.median <= 1.2)
  run:note(string.format("%s/%s %.2fx", pair[1].name, pair[2].name, r.median))
end

-- A hot loop.
run:measure({ cases.loop, cases.loop_filtered, cases.loop_filtered_c, cases.loop_chained })
r = run:ratios(cases.loop_filtered, cases.loop)
run:row("hot loop", cases.loop_filtered, cases.loop, r, "≤ 2x", r.median <= 2)
run:note(string.format("loop with filtered call/bare loop %.2fx", r.median))
run:row("hot loop", cases.loop_filtered_c, cases.loop, run:ratios(cases.loop_filtered_c, cases.loop))
run:row("hot loop", cases.loop_chained, cases.loop_filtered,
        run:ratios(cases.loop_chained, cases.loop_filtered))

-- What the Lua method adds to an admitted call.
run:measure({ cases.admitted, cases.admitted_c })
run:row("admitted scalar", cases.admitted, cases.admitted_c,
        run:ratios(cases.admitted, cases.admitted_c))

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

print(jit.version .. ", the logger methods as Lua functions.\n")
run:print_rows()
os.exit(run:finish() and 0 or 1)
