-- Paired, interleaved timing rounds and the Markdown rows that report them,
-- for run.lua and jit.lua. Written for every Lua, LuaJIT included.
local timing = {}
timing.__index = timing

local clock = os.clock
local unpack = table.unpack or unpack

--- A run of `rounds` rounds; `check(case)` returns nil when the case writes
--- what it should, else a description of the difference.
function timing.new(rounds, check)
  return setmetatable({ rounds = rounds, check = check, rows = {}, summary = {}, failures = {} },
                      timing)
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

--- Runs the cases of a group in every round, in a rotating order, and keeps
--- each one's time per call per round.
function timing:measure(group, seconds)
  for _, case in ipairs(group) do
    local problem = self.check(case)
    if problem then self.failures[#self.failures + 1] = problem end
    case.n = calibrate(case, seconds or 0.04)
    case.times = {}
  end
  for r = 1, self.rounds do
    for k = 0, #group - 1 do
      local case = group[(r + k - 1) % #group + 1]
      local t0 = clock()
      case.run(case.n)
      case.times[r] = (clock() - t0) / case.n
    end
  end
end

function timing.median(values)
  local sorted = { unpack(values) }
  table.sort(sorted)
  local m = math.floor(#sorted / 2)
  return #sorted % 2 == 1 and sorted[m + 1] or (sorted[m] + sorted[m + 1]) / 2
end

--- Ratios a/b per round, each time divided by its scale (nodes, for the
--- per-node figures): their median, min and max.
function timing:ratios(a, b, scale_a, scale_b)
  local out = {}
  for r = 1, self.rounds do
    out[r] = (a.times[r] / (scale_a or 1)) / (b.times[r] / (scale_b or 1))
  end
  table.sort(out)
  return { median = timing.median(out), min = out[1], max = out[#out] }
end

function timing.time_text(seconds)
  if seconds < 1e-8 then return string.format("%.1f ns", seconds * 1e9) end
  if seconds < 1e-6 then return string.format("%.0f ns", seconds * 1e9) end
  if seconds < 1e-3 then return string.format("%.2f µs", seconds * 1e6) end
  return string.format("%.2f ms", seconds * 1e3)
end

--- A table row: subject a against b, their ratio, and the target if any.
function timing:row(what, a, b, ratio, target, met)
  self.rows[#self.rows + 1] = string.format("| %s | %s | %s | %.2fx | %.2f–%.2f | %s | %s | %s |",
    what, a.name, b.name, ratio.median, ratio.min, ratio.max,
    timing.time_text(timing.median(a.times)), timing.time_text(timing.median(b.times)),
    target and (target .. (met and " ✓" or " ✗")) or "")
end

--- Instructions per call of `script` (in the benchmark's directory) run by
--- lua5.3 with `args` and then a number of calls, counted by callgrind as the
--- difference between runs of 2,000 and `many` (12,000) calls; nil if either
--- failed.
function timing.instructions(script, args, many)
  many = many or 12000
  local function total(n)
    local out = os.tmpname()
    local ok = os.execute(string.format("valgrind --tool=callgrind --callgrind-out-file=%s " ..
      "lua5.3 %s/%s %s %d >/dev/null 2>&1", out, os.getenv("BENCH_DIR") or "bench", script, args,
      n))
    local text = ok and io.open(out):read("*a") or ""
    os.remove(out)
    return tonumber(text:match("\ntotals: (%d+)") or text:match("\nsummary: (%d+)"))
  end
  local few, more = total(2000), total(many)
  if not few or not more then return nil end
  return (more - few) / (many - 2000)
end

function timing:note(text)
  self.summary[#self.summary + 1] = text
end

function timing:print_rows()
  print(string.format("%d rounds; ratios are medians of per-round ratios (min–max); " ..
                      "times are CPU time per call, loop included.\n", self.rounds))
  print("| measure | subject | against | ratio | min–max | subject | against | target |")
  print("|---|---|---|---|---|---|---|---|")
  for _, line in ipairs(self.rows) do print(line) end
  print()
end

--- Prints the failed checks and the summary line; true when nothing failed.
function timing:finish()
  for _, problem in ipairs(self.failures) do print("FAILED CHECK: " .. problem) end
  print("summary: " .. table.concat(self.summary, "; ") .. (#self.failures == 0
    and "; every output checked byte for byte" or "; OUTPUT CHECKS FAILED"))
  return #self.failures == 0
end

return timing
