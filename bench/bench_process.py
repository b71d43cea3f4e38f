#!/usr/bin/env python3
# Whole processes, as a user scripts them: `horodex show`, an offline `horodex verify` (data and
# CA given) and `horodex query --hash sha256` against `openssl ts -reply -text`,
# `openssl ts -verify` and `openssl ts -query -sha256` on the same files (a TSA of OpenSSL's own
# made by tests/data/openssl), each pair run alternately, wall-clock time of each process from fork
# to exit, median of 21 runs.
# Usage: bench_process.py BUILD_DIR [--benchmark_out=FILE]; writes Google Benchmark's JSON form so
# that scripts/bench_report.py puts the rows beside the others.
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = 21


def run_time(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=True)
    return (time.perf_counter() - start) * 1e6


def main():
    build = os.path.abspath(sys.argv[1])
    out = next((a.split("=", 1)[1] for a in sys.argv[2:] if a.startswith("--benchmark_out=")), None)
    here = os.path.dirname(os.path.abspath(__file__))
    tool = os.path.join(build, "tools", "horodex", "horodex")
    with tempfile.TemporaryDirectory() as work:
        subprocess.run(["sh", os.path.join(here, "..", "tests", "data", "openssl", "make_tsa.sh"),
                        work], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cases = [
            ("process_show", [tool, "show", "rsa-full.tsr"],
             "openssl_ts_reply_text", ["openssl", "ts", "-reply", "-in", "rsa-full.tsr", "-text"]),
            ("process_verify", [tool, "verify", "rsa-full.tsr", "--data", "data.txt", "--ca",
                                "ca.pem"],
             "openssl_ts_verify", ["openssl", "ts", "-verify", "-in", "rsa-full.tsr", "-data",
                                   "data.txt", "-CAfile", "ca.pem"]),
            # SHA-256 on both sides: where the GOST module is installed, a request's default hash
            # is GOST R 34.11-94, which is other work than openssl's -sha256.
            ("process_query", [tool, "query", "data.txt", "--hash", "sha256", "-o", "q-ours.tsq"],
             "openssl_ts_query", ["openssl", "ts", "-query", "-data", "data.txt", "-sha256",
                                  "-cert", "-out", "q-openssl.tsq"]),
        ]
        benchmarks = []
        for name, ours, counterpart_name, counterpart in cases:
            times = {"ours": [], counterpart_name: []}
            for _ in range(RUNS):
                times["ours"].append(run_time(ours, work))
                times[counterpart_name].append(run_time(counterpart, work))
            for who, values in times.items():
                run_name = f"{name}/{who}/real_time"
                median = statistics.median(values)
                benchmarks.append({"name": run_name + "_median", "run_name": run_name,
                                   "aggregate_name": "median", "time_unit": "us",
                                   "real_time": median, "cpu_time": median})
                print(f"{run_name:50} {median:10.0f} us")
    context = {"date": time.strftime("%Y-%m-%dT%H:%M:%S"), "num_cpus": os.cpu_count(),
               "mhz_per_cpu": 0, "load_avg": list(os.getloadavg())}
    if out:
        with open(out, "w") as f:
            json.dump({"context": context, "benchmarks": benchmarks}, f)


if __name__ == "__main__":
    main()
