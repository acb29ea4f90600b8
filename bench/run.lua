-- Times the module's log calls against their floors and peers, in paired,
-- interleaved rounds, and prints a Markdown table and a summary line.
--   lua5.3 bench/run.lua [rounds]     (make bench sets the paths)
-- Every figure is a ratio of two times taken in the same round; the
-- absolute times (CPU time per call, loop included) are indicative only.
local cases = require "cases"
local rounds = tonumber(arg[1]) or 7
local clock = os.clock

local failures = {}
local function check(case)
  local problem = cases.check(case)
  if problem then failures[#failures + 1] = problem end
end

-- Calls per sample so that one sample takes about `seconds` of CPU.
local function calibrate(case, seconds)
  local n = 1
  while true do
    local t0 = clock()
    case.run(n)
    local spent = clock() - t0
    if spent >= seconds / 4 then return math.max(1, math.floor(n * seconds / spent)) end
    n = n * 4
  end
end

-- Runs the cases of a group in every round, in a rotating order, and keeps
-- each one's time per call per round.
local function measure(group, seconds)
  for _, case in ipairs(group) do
    check(case)
    case.n = calibrate(case, seconds or 0.04)
    case.times = {}
  end
  for r = 1, rounds do
    for k = 0, #group - 1 do
      local case = group[(r + k - 1) % #group + 1]
      local t0 = clock()
      case.run(case.n)
      case.times[r] = (clock() - t0) / case.n
    end
  end
end

local function median(values)
  local sorted = { table.unpack(values) }
  table.sort(sorted)
  local m = #sorted // 2
  return #sorted % 2 == 1 and sorted[m + 1] or (sorted[m] + sorted[m + 1]) / 2
end

-- Ratios a/b per round, scaled by `per` (nodes, for the per-node figures).
local function ratios(a, b, scale_a, scale_b)
  local out = {}
  for r = 1, rounds do
    out[r] = (a.times[r] / (scale_a or 1)) / (b.times[r] / (scale_b or 1))
  end
  table.sort(out)
  return { median = median(out), min = out[1], max = out[#out] }
end

local function time_text(seconds)
  if seconds < 1e-6 then return string.format("%.0f ns", seconds * 1e9) end
  if seconds < 1e-3 then return string.format("%.2f µs", seconds * 1e6) end
  return string.format("%.2f ms", seconds * 1e3)
end

local rows = {}
local function row(what, a, b, ratio, target, met)
  rows[#rows + 1] = string.format("| %s | %s | %s | %.2fx | %.2f–%.2f | %s | %s | %s |",
    what, a.name, b.name, ratio.median, ratio.min, ratio.max, time_text(median(a.times)),
    time_text(median(b.times)), target and (target .. (met and " ✓" or " ✗")) or "")
end

local summary = {}
local function note(text) summary[#summary + 1] = text end

-- Filtered calls, and the inherited-priority case beside them.
local filtered = { cases.filtered, cases.empty_c, cases.empty_lua, cases.lualog_disabled,
                   cases.inherited }
measure(filtered)
local r = ratios(cases.filtered, cases.empty_c)
row("filtered call", cases.filtered, cases.empty_c, r, "≤ 1.3x", r.median <= 1.3)
note(string.format("filtered/emptyC %.2fx", r.median))
row("filtered call", cases.filtered, cases.empty_lua, ratios(cases.filtered, cases.empty_lua))
row("filtered call", cases.filtered, cases.lualog_disabled,
    ratios(cases.filtered, cases.lualog_disabled))
r = ratios(cases.inherited, cases.filtered)
row("inherited priority", cases.inherited, cases.filtered, r)
note(string.format("inherited/own-filtered %.1fx", r.median))
if not cases.renders_filtered("inherited") or cases.renders_filtered("own") then
  failures[#failures + 1] = "the gate: inherited must render, own INFO must not"
end

-- Admitted scalar calls.
local scalar = { cases.admitted, cases.floor, cases.lualog, cases.concat }
measure(scalar)
r = ratios(cases.admitted, cases.floor)
row("admitted scalar", cases.admitted, cases.floor, r, "≤ 1.25x", r.median <= 1.25)
note(string.format("admitted/log4cpp-floor %.2fx", r.median))
r = ratios(cases.lualog, cases.admitted)
row("admitted scalar", cases.lualog, cases.admitted, r, "≥ 2x", r.median >= 2)
note(string.format("lua-logging/admitted %.1fx", r.median))
row("admitted scalar", cases.concat, cases.admitted, ratios(cases.concat, cases.admitted))
r = ratios(cases.inherited, cases.admitted)
row("inherited priority", cases.inherited, cases.admitted, ratios(cases.inherited, cases.admitted))

-- Table dump of about 1,000 nodes.
local d = cases.dump(1000)
measure({ d.quelto, d.inspect, d.lualog }, 0.1)
r = ratios(d.inspect, d.quelto)
row("table dump", d.inspect, d.quelto, r, "≥ 20x", r.median >= 20)
note(string.format("inspect/dump %.1fx", r.median))
row("table dump", d.lualog, d.quelto, ratios(d.lualog, d.quelto))

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
measure(scaled, 0.1)
for _, case in ipairs(scaled) do
  r = ratios(case, base, case.nodes, base.nodes)
  local is_last = case.nodes == 100000
  local per_node = { name = case.name, times = per_node_times(case) }
  row("dump, per node", per_node, { name = "1000 nodes", times = per_node_times(base) }, r,
      is_last and "≤ 1.3x" or nil, r.median <= 1.3)
  if is_last then note(string.format("per-node 100k/1k %.2fx", r.median)) end
end

-- Instructions per call where the ratios are close, counted by callgrind as
-- the difference between runs of 2,000 and 12,000 calls.
local counts = {}
local function instructions(name)
  local function total(n)
    local out = os.tmpname()
    local ok = os.execute(string.format("valgrind --tool=callgrind --callgrind-out-file=%s " ..
      "lua5.3 %s/count.lua %s %d >/dev/null 2>&1", out, os.getenv("BENCH_DIR") or "bench",
      name, n))
    local text = ok and io.open(out):read("*a") or ""
    os.remove(out)
    return tonumber(text:match("\ntotals: (%d+)") or text:match("\nsummary: (%d+)"))
  end
  local few, many = total(2000), total(12000)
  if not few or not many then return nil end
  return (many - few) / 10000
end
if os.getenv("BENCH_CALLGRIND") ~= "0" then
  for _, name in ipairs { "filtered", "empty_c", "admitted", "floor", "inherited" } do
    counts[#counts + 1] = { case = cases[name], count = instructions(name) }
  end
end

-- Memory, in a process of its own so that the tables above do not count.
local memory = io.popen("lua5.3 " .. (os.getenv("BENCH_DIR") or "bench") .. "/memory.lua"):read("*a")
local function field(name) return tonumber(memory:match(name .. "=(%-?[%d.]+)")) end

print(string.format("%d rounds; ratios are medians of per-round ratios (min–max); " ..
                    "times are CPU time per call, loop included.\n", rounds))
print("| measure | subject | against | ratio | min–max | subject | against | target |")
print("|---|---|---|---|---|---|---|---|")
for _, line in ipairs(rows) do print(line) end
print()
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
    note(string.format("instructions filtered/emptyC %.2fx, admitted/floor %.2fx",
      by[cases.filtered] / by[cases.empty_c], by[cases.admitted] / by[cases.floor]))
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
  note(string.format("heap retained %.1f KiB, RSS growth %d KiB", field("heap_retained_kb"),
                     field("rss_growth_kb")))
else
  failures[#failures + 1] = "memory measurement failed: " .. memory
end
print()
for _, problem in ipairs(failures) do print("FAILED CHECK: " .. problem) end
print("summary: " .. table.concat(summary, "; ") ..
      (#failures == 0 and "; every output checked byte for byte" or "; OUTPUT CHECKS FAILED"))
os.exit(#failures == 0 and 0 or 1)
