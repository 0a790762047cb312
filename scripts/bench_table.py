#!/usr/bin/env python3
"""Prints the benchmark tables of one run (see scripts/bench): the hot paths of the goals file with
each goal beside its ratio, then every case with our time, the baseline's and the ratio.
Arguments: heading, folder of JSON results (<executable>.<run>.json, one per repetition), goals
file. Exits 1 when a result is missing or a benchmark reported an error."""
import json, pathlib, statistics, sys
heading, folder, goals_file = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
# (case, executable) -> side -> list of (time, unit), one per repetition of the executable.
rows, errors, counters = {}, [], {}
STANDARD_KEYS = {"real_time", "cpu_time", "iterations", "repetitions", "repetition_index", "threads",
                 "family_index", "per_family_instance_index", "items_per_second"}
for f in sorted(folder.glob("*.json")):
    exe = f.name.split(".")[0].removeprefix("bench_")
    try:
        benchmarks = json.loads(f.read_text())["benchmarks"]
    except (ValueError, KeyError):
        errors.append(f"{exe}: no results"); continue
    for b in benchmarks:
        if b.get("error_occurred"):
            errors.append(f"{b['name']}: {b.get('error_message', 'error')}"); continue
        name = b["name"].split("/")
        if len(name) < 2: continue
        case, side = "/".join(n for n in name if n not in ("kiv", "base")), ("kiv" if "kiv" in name else "base")
        rows.setdefault((case, exe), {}).setdefault(side, []).append((b["real_time"], b["time_unit"]))
        # Counters a case reports (allocations per call, bytes per second), per repetition.
        for key, value in b.items():
            if isinstance(value, (int, float)) and key not in STANDARD_KEYS:
                counters.setdefault((b["name"], exe, key), []).append(value)

def measured(r):
    """Median times and the median, lowest and highest ratio over the repetitions."""
    if "kiv" not in r or "base" not in r: return None
    ratios = [o / b for (o, _), (b, _) in zip(r["kiv"], r["base"])]
    return (statistics.median(t for t, _ in r["kiv"]), statistics.median(t for t, _ in r["base"]),
            r["kiv"][0][1], statistics.median(ratios), min(ratios), max(ratios))

def ratio_text(m):
    o, b, u, ratio, lo, hi = m
    spread = f"{lo:.2f}-{hi:.2f}" if hi > lo else ""
    return f"{o:10.1f}{u:>2} {b:10.1f}{u:>2} {ratio:8.2f} {spread:>11}"

runs = max((len(s) for r in rows.values() for s in r.values()), default=0)
print(f"== {heading}, median of {runs} run(s), range of the ratios")
print(f"{'hot path':66} {'ours':>12} {'baseline':>12} {'ratio':>8} {'range':>11} {'goal':>6}")
for line in goals_file.read_text().splitlines():
    if not line.strip() or line.startswith("#"): continue
    fields = line.split("\t")
    if fields[0] == "counter":  # counter <exe> <benchmark> <counter> <<= or >=> <goal> <label>
        _, exe, bench, key, op, goal, label = fields
        values = counters.get((bench, exe, key))
        if not values:
            print(f"{label:66} {'not measured on this target':>45} {op + ' ' + goal:>6}")
            continue
        value = statistics.median(values)
        met = value <= float(goal) if op == "<=" else value >= float(goal)
        shown = f"{value / 1e9:.3f} GB/s" if key == "bytes_per_second" else f"{value:g}"
        print(f"{label:66} {shown:>45} {op + ' ' + (f'{float(goal) / 1e9:g} GB/s' if key == 'bytes_per_second' else goal):>6}{'' if met else '  MISS'}")
        continue
    exe, case, goal, label = fields
    m = measured(rows.get((case, exe), {}))
    if m is None:
        print(f"{label:66} {'not measured on this target':>45} {'<= ' + goal:>6}")
        continue
    mark = "" if m[3] <= float(goal) else "  MISS"
    print(f"{label:66} {ratio_text(m)} {'<= ' + goal:>6}{mark}")
# A case name that more than one executable measures is told apart by its executable.
seen = {}
for case, _ in rows: seen[case] = seen.get(case, 0) + 1
print()
print(f"{'case':66} {'ours':>12} {'baseline':>12} {'ratio':>8} {'range':>11}")
for (case, exe), r in rows.items():
    m = measured(r)
    if m is None: continue
    if seen[case] > 1: case = f"{case} ({exe})"
    print(f"{case:66} {ratio_text(m)}")
for e in errors:
    print(f"skipped: {e}")
sys.exit(1 if errors else 0)
