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
        rows[name] = b["cpu_time"] * scale

print("# Benchmarks\n")
print("Made by `scripts/bench` (Google Benchmark, median of 5 repetitions, CPU time) on "
      f"{context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz, {platform.machine()}, "
      f"{context['date'][:10]}. Ours and the OpenSSL counterpart run in the same program on the "
      "same bytes. Debian's libbenchmark warns that it was itself built as DEBUG; that touches its own "
      f"bookkeeping only, not the code measured. Load average at the start: {context.get('load_avg', ['?'])[0]}.\n")
print("| benchmark | µs per operation | OpenSSL / ours |")
print("|---|---:|---:|")
for name, micros in rows.items():
    ratio = ""
    parts = name.split("/")
    if len(parts) >= 2 and parts[1].startswith("openssl"):
        ours = "/".join([parts[0], "ours"] + parts[2:])
        if ours in rows and rows[ours] > 0:
            ratio = f"{micros / rows[ours]:.1f}×"
    print(f"| `{name}` | {micros:.2f} | {ratio} |")
print("\n## What is measured\n")
# Each benchmark program says what it measures in the comment block at its top.
import glob
import os
here = os.path.dirname(os.path.abspath(__file__))
for source in sorted(glob.glob(os.path.join(here, "..", "bench", "bench_*.cpp"))):
    lines = []
    with open(source) as f:
        for line in f:
            if not line.startswith("//"):
                break
            lines.append(line[2:].strip())
    print(f"- `{os.path.basename(source)}`: " + " ".join(lines))
