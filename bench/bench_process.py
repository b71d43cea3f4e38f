#!/usr/bin/env python3
# Whole processes, as a user scripts them: `horodex show`, an offline `horodex verify` (data and
# CA given) and `horodex query --hash sha256` against `openssl ts -reply -text`,
# `openssl ts -verify` and `openssl ts -query -sha256` on the same files (a TSA of OpenSSL's own
# made by tests/data/openssl), each pair run alternately, median of 31 runs: the wall-clock time
# of each process from its start to its exit ("/real_time" rows) and the CPU time it took (user
# and system time from wait4, which the other work on a loaded machine disturbs less).
# horodex runs as installed (cmake --install --strip into a temporary prefix), the way users run
# it: the build tree's binaries carry a RUNPATH ending in an empty entry (CMake's room for the
# install-time rewrite), which sends the loader through about forty paths relative to the working
# folder. The installed library is named to the loader by its path (LD_PRELOAD), as a library in
# the system's folders is found through the loader's cache, without a search.
# Usage: bench_process.py BUILD_DIR [--benchmark_out=FILE]; writes Google Benchmark's JSON form so
# that scripts/bench_report.py puts the rows beside the others.
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = 31


def run_times(command, env):
    """Wall-clock and CPU time of one process (run in the current folder), in microseconds."""
    start = time.perf_counter()
    pid = os.posix_spawnp(command[0], command, env, file_actions=[
        (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
        (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    wall = (time.perf_counter() - start) * 1e6
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError(f"{command} failed")
    return wall, (usage.ru_utime + usage.ru_stime) * 1e6


def main():
    build = os.path.abspath(sys.argv[1])
    out = next((a.split("=", 1)[1] for a in sys.argv[2:] if a.startswith("--benchmark_out=")), None)
    here = os.path.dirname(os.path.abspath(__file__))
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory() as prefix:
        subprocess.run(["cmake", "--install", build, "--prefix", prefix, "--strip"], check=True,
                       stdout=subprocess.DEVNULL)
        tool = os.path.join(prefix, "bin", "horodex")
        library = next(os.path.join(root, "libhorodex.so.1")
                       for root, _, files in os.walk(prefix) if "libhorodex.so.1" in files)
        ours_env = dict(os.environ, LD_PRELOAD=library)
        counterpart_env = dict(os.environ)
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
        os.chdir(work)  # the commands name the files of `work`
        for name, ours, counterpart_name, counterpart in cases:
            runs = {"ours": (ours, ours_env, []),
                    counterpart_name: (counterpart, counterpart_env, [])}
            for _ in range(RUNS):
                for command, env, times in runs.values():
                    times.append(run_times(command, env))
            for who, (_, _, times) in runs.items():
                wall = statistics.median(t[0] for t in times)
                cpu = statistics.median(t[1] for t in times)
                for run_name, value in ((f"{name}/{who}/real_time", wall), (f"{name}/{who}", cpu)):
                    benchmarks.append({"name": run_name + "_median", "run_name": run_name,
                                       "aggregate_name": "median", "time_unit": "us",
                                       "real_time": value, "cpu_time": value})
                print(f"{name + '/' + who:40} wall {wall:8.0f} us  cpu {cpu:8.0f} us")
        os.chdir(here)
    context = {"date": time.strftime("%Y-%m-%dT%H:%M:%S"), "num_cpus": os.cpu_count(),
               "mhz_per_cpu": 0, "load_avg": list(os.getloadavg())}
    if out:
        with open(out, "w") as f:
            json.dump({"context": context, "benchmarks": benchmarks}, f)


if __name__ == "__main__":
    main()
