"""The cases of the ctest suite, one by one: shared by scripts/test-coverage and scripts/mutate.

A case is a gtest case of a test program (run with --gtest_filter) or, for a test that is no gtest
program, the whole test. Its label is "ctest-name case" ("ctest-name *" for a whole test).
"""
import json
import os
import re
import subprocess


def ctest_tests(build, pattern=None, exclude=None):
    """(name, command, properties) of every ctest test of BUILD whose name matches."""
    shown = json.loads(subprocess.check_output(["ctest", "--test-dir", build,
                                                "--show-only=json-v1"]))
    for test in shown["tests"]:
        if pattern and not re.search(pattern, test["name"]):
            continue
        if exclude and re.search(exclude, test["name"]):
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        yield test["name"], test["command"], props


def cases_of(command):
    """The gtest cases of a test program, or [None] when it is no gtest program."""
    try:
        listing = subprocess.run(command + ["--gtest_list_tests"], capture_output=True, text=True,
                                 timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return [None]
    if listing.returncode != 0 or "Running main()" in listing.stdout and "." not in listing.stdout:
        return [None]
    cases, suite = [], None
    for line in listing.stdout.splitlines():
        if not line.strip() or line.startswith("Running main()"):
            continue
        if not line.startswith(" "):
            suite = line.split("#")[0].strip()
        elif suite:
            cases.append(suite + line.split("#")[0].strip())
    return cases or [None]


def environment(props, extra=None):
    """The environment ctest would give the test, with EXTRA on top."""
    env = dict(os.environ)
    for change in props.get("ENVIRONMENT_MODIFICATION", []):
        key, op, value = re.match(r"([^=]+)=(\w+):(.*)", change).groups()
        if op == "unset":
            env.pop(key, None)
        elif op == "set":
            env[key] = value
    for setting in props.get("ENVIRONMENT", []):
        key, _, value = setting.partition("=")
        env[key] = value
    env.update(extra or {})
    return env


def run_cases(build, command, props, cases, timeout, alone=True):
    """Runs CASES of one test (a list of gtest names, or [None] for the whole test) and returns the
    set of those that failed, hung or crashed. When the program dies before it reports, each case
    is run again alone, so that one crash does not blame its neighbours; without ALONE, all of
    them are blamed (enough to know that one of them catches it)."""
    def attempt(selected, limit):
        run = command + ([f"--gtest_filter={':'.join(selected)}"] if selected != [None] else [])
        try:
            result = subprocess.run(run, cwd=props.get("WORKING_DIRECTORY", build),
                                    env=environment(props), stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, timeout=limit,
                                    start_new_session=True)
        except subprocess.TimeoutExpired:
            return None
        text = result.stdout.decode("utf-8", "replace")
        if result.returncode == 0:
            return set()
        if selected == [None]:
            return {None}
        failed = set(re.findall(r"^\[  FAILED  \] (\S+)(?: \(| *$|, where)", text, re.M))
        failed &= set(selected)
        return failed if failed else None  # None: died without saying which case

    failed = attempt(cases, timeout)
    if failed is not None:
        return failed
    if len(cases) == 1 or not alone:
        return set(cases)
    blamed = set()
    for case in cases:
        result = attempt([case], max(30, timeout // 4))
        if result is None or result:
            blamed.add(case)
    return blamed
