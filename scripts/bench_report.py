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
      "same bytes.\n")
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
print("""
## What is measured

- `decode_TimeStampResp`: decoding a granted TimeStampResp that carries three certificates.
  Argument 0 wraps SSL.com's 2021 token (RSA-3072, its chain of three), argument 1 Apple's
  Timestamp Signer MA2 token (three certificates), both from the interop corpus. OpenSSL's
  `d2i_TS_RESP` parses every embedded certificate eagerly; ours keeps each certificate's DER as
  received and parses it only when a chain or signature check needs it.
""")
