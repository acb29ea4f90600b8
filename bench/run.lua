-- Times the module's log calls against their floors and peers, in paired,
-- interleaved rounds, and prints a Markdown table and a summary line.
--   lua5.3 bench/run.lua [rounds]     (make bench sets the paths)
-- Every figure is a ratio of two times taken in the same round; the
-- absolute times (CPU time per call, loop included) are indicative only.
local cases = require "cases"
local timing = require "timing"
local rounds = tonumber(arg[1]) or 7

local run = timing.new(rounds, cases.check)
local failures = run.failures

-- Filtered calls, and the inherited-priority case beside them.
local filtered = { cases.filtered, cases.empty_c, cases.empty_lua, cases.lualog_disabled,
                   cases.inherited, cases.chained_1, cases.chained, cases.chained_8 }
run:measure(filtered)
local r = run:ratios(cases.filtered, cases.empty_c)
run:row("filtered call", cases.filtered, cases.empty_c, r, "≤ 1.3x", r.median <= 1.3)
run:note(string.format("filtered/emptyC %.2fx", r.median))
run:row("filtered call", cases.filtered, cases.empty_lua,
        run:ratios(cases.filtered, cases.empty_lua))
run:row("filtered call", cases.filtered, cases.lualog_disabled,
        run:ratios(cases.filtered, cases.lualog_disabled))
r = run:ratios(cases.inherited, cases.filtered)
run:row("inherited priority", cases.inherited, cases.filtered, r)
run:note(string.format("inherited/own-filtered %.1fx", r.median))
for _, case in ipairs { cases.chained_1, cases.chained, cases.chained_8 } do
  r = run:ratios(case, cases.filtered)
  run:row("chained gate", case, cases.filtered, r, "≤ 1.1x", r.median <= 1.1)
  run:note(string.format("%s/own-filtered %.2fx", case.name, r.median))
end
run:row("chained gate", cases.chained, cases.lualog_disabled,
        run:ratios(cases.chained, cases.lualog_disabled))
if not cases.renders_filtered("inherited") or cases.renders_filtered("own")
    or cases.renders_filtered("chained") then
  failures[#failures + 1] = "the gate: inherited must render, own INFO and chained must not"
end

-- Admitted scalar calls.
local scalar = { cases.admitted, cases.floor, cases.lualog, cases.concat }
run:measure(scalar)
r = run:ratios(cases.admitted, cases.floor)
run:row("admitted scalar", cases.admitted, cases.floor, r, "≤ 1.25x", r.median <= 1.25)
run:note(string.format("admitted/log4cpp-floor %.2fx", r.median))
r = run:ratios(cases.lualog, cases.admitted)
run:row("admitted scalar", cases.lualog, cases.admitted, r, "≥ 2x", r.median >= 2)
run:note(string.format("lua-logging/admitted %.1fx", r.median))
run:row("admitted scalar", cases.concat, cases.admitted,
        run:ratios(cases.concat, cases.admitted))
r = run:ratios(cases.inherited, cases.admitted)
run:row("inherited priority", cases.inherited, cases.admitted,
        run:ratios(cases.inherited, cases.admitted))

-- Table dump of about 1,000 nodes.
local d = cases.dump(1000)
run:measure({ d.quelto, d.inspect, d.lualog }, 0.1)
r = run:ratios(d.inspect, d.quelto)
run:row("table dump", d.inspect, d.quelto, r, "≥ 20x", r.median >= 20)
run:note(string.format("inspect/dump %.1fx", r.median))
run:row("table dump", d.lualog, d.quelto, run:ratios(d.lualog, d.quelto))

-- The line format, the escaped dump and the JSON format against the dump,
-- per node of a 1,000-node table of mixed strings.
local m = cases.mixed(1000)
run:measure({ m.dump, m.line, m.escaped, m.json }, 0.1)
r = run:ratios(m.line, m.dump)
run:row("line format", m.line, m.dump, r, "≤ 1.15x", r.median <= 1.15)
run:note(string.format("line/dump %.2fx", r.median))
r = run:ratios(m.escaped, m.dump)
run:row("escaped dump", m.escaped, m.dump, r, "≤ 1.15x", r.median <= 1.15)
run:note(string.format("escaped/dump %.2fx", r.median))
r = run:ratios(m.json, m.dump)
run:row("JSON format", m.json, m.dump, r, "≤ 1.2x", r.median <= 1.2)
run:note(string.format("json/dump %.2fx", r.median))

-- One record through the JSON layout against log4cpp's PatternLayout.
run:measure({ cases.layout_json, cases.layout_pattern })
run:row("JSON layout", cases.layout_json, cases.layout_pattern,
        run:ratios(cases.layout_json, cases.layout_pattern))

-- Cost per node of the dump, against that at 1k nodes.
local sizes, scaled, base = { 10, 100, 1000, 10000, 100000 }, {}, nil
local function per_node_times(case)
  local times = {}
  for k, t in ipairs(case.times) do times[k] = t / case.nodes end
  return times
end
for i, nodes in ipairs(sizes) do
  scaled[i] = cases.dump(nodes).quelto
  scaled[i].nodes = nodes
  if nodes == 1000 then base = scaled[i] end
end
run:measure(scaled, 0.1)
for _, case in ipairs(scaled) do
  r = run:ratios(case, base, case.nodes, base.nodes)
  local is_last = case.nodes == 100000
  local per_node = { name = case.name, times = per_node_times(case) }
  run:row("dump, per node", per_node, { name = "1000 nodes", times = per_node_times(base) }, r,
      is_last and "≤ 1.3x" or nil, r.median <= 1.3)
  if is_last then run:note(string.format("per-node 100k/1k %.2fx", r.median)) end
end

-- Instructions per call where the ratios are close, counted by callgrind as
-- the difference between runs of 2,000 and 12,000 calls.
local counts = {}
if os.getenv("BENCH_CALLGRIND") ~= "0" then
  for _, name in ipairs { "filtered", "empty_c", "admitted", "floor", "inherited", "chained_1",
                          "chained", "chained_8", "filtered_options", "filtered_with",
                          "chained_with", "layout_pattern", "layout_json" } do
    -- Lua's hash seed, new in every process, moves the cost of a call's
    -- method lookup by some ten instructions: a filtered call, which costs
    -- little else, is counted over 100,000 calls three times, the least kept.
    local count = timing.instructions("count.lua", name)
    if cases[name].expect == "" and not name:match("^layout") then
      count = nil
      for _ = 1, 3 do
        local one = timing.instructions("count.lua", name, 102000)
        if one and (not count or one < count) then count = one end
      end
    end
    counts[#counts + 1] = { case = cases[name], count = count }
  end
end

-- Memory, in a process of its own so that the tables above do not count.
local memory = io.popen("lua5.3 " .. (os.getenv("BENCH_DIR") or "bench") .. "/memory.lua"):read("*a")
local function field(name) return tonumber(memory:match(name .. "=(%-?[%d.]+)")) end

run:print_rows()
if #counts > 0 then
  print("| callgrind | instructions per call |")
  print("|---|---|")
  for _, c in ipairs(counts) do
    print(string.format("| %s | %s |", c.case.name, c.count and string.format("%.0f", c.count)
                                                      or "not counted"))
  end
  local by = {}
  for _, c in ipairs(counts) do by[c.case] = c.count end
  if by[cases.filtered] and by[cases.empty_c] and by[cases.admitted] and by[cases.floor] then
    run:note(string.format("instructions filtered/emptyC %.2fx, admitted/floor %.2fx",
      by[cases.filtered] / by[cases.empty_c], by[cases.admitted] / by[cases.floor]))
  end
  for _, case in ipairs { cases.chained_1, cases.chained, cases.chained_8 } do
    if by[case] and by[cases.filtered] then
      local ratio = by[case] / by[cases.filtered]
      run:note(string.format("instructions %s/own-filtered %.2fx", case.name, ratio))
      if ratio > 1.1 then failures[#failures + 1] = case.name .. " above 1.1x in instructions" end
    end
  end
  -- The new options and loggers of with filter as the plain logger does: the
  -- same instructions, give or take the noise of a count (about 1%).
  for _, pair in ipairs { { cases.filtered_options, cases.filtered },
                          { cases.filtered_with, cases.filtered },
                          { cases.chained_with, cases.chained } } do
    local case, against = pair[1], pair[2]
    if by[case] and by[against] then
      local ratio = by[case] / by[against]
      run:note(string.format("instructions %s/%s %.3fx", case.name, against.name, ratio))
      if ratio > 1.01 then failures[#failures + 1] = case.name .. " costs more than " .. against.name end
    end
  end
  if by[cases.layout_json] and by[cases.layout_pattern] then
    local ratio = by[cases.layout_json] / by[cases.layout_pattern]
    run:note(string.format("instructions JSON layout/PatternLayout %.2fx", ratio))
    if ratio > 1 then failures[#failures + 1] = "the JSON layout costs more than the PatternLayout" end
  end
  print()
end
if field("heap_retained_kb") then
  print("| memory, 100,000 calls each | Lua heap retained | RSS growth | peak RSS |")
  print("|---|---|---|---|")
  for _, kind in ipairs { "scalar", "table" } do
    print(string.format("| %s calls | %.1f KiB | %d KiB | %d KiB |", kind,
      field(kind .. "_heap_kb"), field(kind .. "_rss_kb"), field(kind .. "_hwm_kb")))
  end
  run:note(string.format("heap retained %.1f KiB, RSS growth %d KiB", field("heap_retained_kb"),
                     field("rss_growth_kb")))
else
  failures[#failures + 1] = "memory measurement failed: " .. memory
end
print()
os.exit(run:finish() and 0 or 1)
