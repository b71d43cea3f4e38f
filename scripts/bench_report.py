"""Writes bench/README.md from Google Benchmark JSON files: median CPU time of each benchmark,
and for every pair named <case>/ours and <case>/openssl... the ratio between them."""
import json
import platform
import sys
from collections import OrderedDict

rows = OrderedDict()
context = None
for path in sys.argv[1:]:
    with open(path) as f:
        data = json.load(f)
    context = context or data["context"]
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"]
        unit = b["time_unit"]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[unit]
        # Benchmarks that wait on a peer (network exchanges, child processes) measure wall-clock
        # time; Google Benchmark marks them "/real_time".
        measured = b["real_time"] if name.endswith("/real_time") else b["cpu_time"]
        rows[name] = measured * scale

print("# Benchmarks\n")
print("Made by `scripts/bench` (Google Benchmark, median of 5 repetitions, CPU time) on "
      f"{context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz, {platform.machine()}, "
      f"{context['date'][:10]}. Ours and the OpenSSL counterpart run in the same program on the "
      "same bytes. Debian's libbenchmark warns that it was itself built as DEBUG; that touches its own "
      f"bookkeeping only, not the code measured. Load average at the start: {context.get('load_avg', ['?'])[0]}.\n")
print("Benchmarks named `.../real_time` give wall-clock time instead of CPU time.\n")
print("| benchmark | µs per operation | counterpart / ours |")
print("|---|---:|---:|")


def case_of(parts):
    # The case and the arguments, without the fixed iteration count of a run.
    return [parts[0]] + [p for p in parts[2:] if not p.startswith("iterations:")]


for name, micros in rows.items():
    ratio = ""
    parts = name.split("/")
    if len(parts) >= 2 and parts[1].startswith(("openssl", "libcurl", "curl")):
        for ours_name, ours_micros in rows.items():
            ours_parts = ours_name.split("/")
            if (len(ours_parts) >= 2 and ours_parts[1].startswith("ours")
                    and case_of(ours_parts) == case_of(parts) and ours_micros > 0):
                ratio = f"{micros / ours_micros:.2f}×"
    print(f"| `{name}` | {micros:.2f} | {ratio} |")
print("\n## What is measured\n")
# Each benchmark program says what it measures in the comment block at its top.
import glob
import os
here = os.path.dirname(os.path.abspath(__file__))
sources = glob.glob(os.path.join(here, "..", "bench", "bench_*.cpp"))
sources += glob.glob(os.path.join(here, "..", "bench", "bench_*.py"))
for source in sorted(sources):
    lines = []
    comment = "//" if source.endswith(".cpp") else "#"
    with open(source) as f:
        for line in f:
            if line.startswith("#!"):
                continue
            if not line.startswith(comment):
                break
            lines.append(line[len(comment):].strip())
    print(f"- `{os.path.basename(source)}`: " + " ".join(lines))
