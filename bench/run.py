#!/usr/bin/env python3
"""make bench: the program's speed against the host stack, in one run, on the same inputs.

    python3 bench/run.py --build build/dev [--quick] [--runs 5] [--out bench/results.md] [--only SECTION...]

1. Decode + filter + print of one answer: the native core (bench/quillon_bench)
   against the host stack (bench/host_stack.py: json.loads, a plain filter,
   pprint.PrettyPrinter(width=200).pformat) and `jq .`; wall and CPU time,
   MB/s and peak resident memory of each process.
2. A whole run of 50 configuration files against the simulated controller:
   the native program and `python -m quillon` against the host stack doing the
   same requests (tests/python/host_reference.py), and against a bare loop of
   the same number of fresh-connection requests (the TLS floor).
3. Start-up: `quillon --help` and importing quillon.quillon against importing
   what the host stack imports.
4. Whole runs on the 1, 10 and 100 MB records answers, each served by the
   simulated controller: the native program, `python -m quillon` and the host
   stack, output to a file, against the transfer floor of the same run (curl
   -k posting the login and the query, answers to /dev/null).
5. Parallel runs: 40 configuration files against the simulated controller
   holding every answer back 30 ms (a distant controller), `--jobs 8` against
   the run without it and against the host stack.
6. (A record in the results file only: the speed threads the core had, on
   and off, and why they went.)
7. Keys alike at both ends (bench/key_collisions.py): decoding an object of
   100,000 such keys against one of as many distinct keys.
8. The portable build (bench/portable_build.py): the run of 4 by the native
   program of this build and by that of the wheels (make portable: zig's
   clang for the oldest glibc), interleaved.

`--only keys` (or any sections) runs just those and replaces their tables
in the results file, leaving the others as they were. `--before NAME=BUILD`
(repeatable) adds an earlier build's native program and core driver to
sections 1 and 4 as contenders of their own, interleaved with the others, so
that a change is measured against the run before it on the same machine.

Each section lives in a module of its own (answer_section, run_section,
startup_section, big_run_section, jobs_section, key_collisions,
portable_build); report.py writes the file. This one only dispatches.

Every output that two contenders should agree on is compared; a contender
whose output differs or that fails is reported as such, not timed as if it
had worked. Runs of different contenders are interleaved, so a change of load
on the machine falls on all of them alike.
"""
import argparse
import os
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import generate_answers  # noqa: E402
import key_collisions  # noqa: E402
import portable_build  # noqa: E402
from answer_section import answer_benchmark, answer_tables  # noqa: E402
from big_run_section import big_run_benchmark, big_run_table  # noqa: E402
from jobs_section import jobs_benchmark, jobs_table  # noqa: E402
from measuring import MB  # noqa: E402
from report import machine_description, merge_sections, targets_table  # noqa: E402
from run_section import whole_run_benchmark, whole_run_table  # noqa: E402
from startup_section import startup_benchmark, startup_table  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description="Benchmarks of the program against the host stack.")
    parser.add_argument("--build", default="build/dev", help="the CMake build directory")
    parser.add_argument("--runs", type=int, default=5, help="runs per contender (at least 5 for the targets)")
    parser.add_argument("--host-runs-100mb", type=int, default=3,
                        help="runs of the host stack on the 100 MB answer (about 35 s each)")
    parser.add_argument("--quick", action="store_true", help="skip the 100 MB answer and use 3 runs")
    every = ["answers", "run", "startup", "big-run", "jobs", "keys", "portable"]
    parser.add_argument("--only", nargs="*", choices=every, default=every,
                        help="these sections only; their tables replace the same sections of --out")
    parser.add_argument("--portable", default="build/portable", help="the portable build's directory (make portable)")
    parser.add_argument("--out", default=str(ROOT / "bench" / "results.md"))
    parser.add_argument("--before", action="append", default=[], metavar="NAME=BUILD",
                        help="an earlier build (its CMake build directory) measured as a contender of its own")
    args = parser.parse_args()
    build = (ROOT / args.build).resolve() if not Path(args.build).is_absolute() else Path(args.build)
    runs = 3 if args.quick else args.runs
    if not (build / "bin" / "quillon_bench").exists():
        sys.exit(f"{build / 'bin' / 'quillon_bench'} is missing: build first (make build BUILD={args.build})")
    before = []
    for given in args.before:
        label, _, directory = given.partition("=")
        if not directory or not (Path(directory) / "bin" / "quillon").exists():
            sys.exit(f"--before {given}: expected NAME=BUILD with BUILD/bin/quillon")
        before.append((label, Path(directory).resolve()))
    module_env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        p for p in [str(build / "python"), os.environ.get("PYTHONPATH", "")] if p))

    started = time.time()
    load_start = " ".join(f"{x:.2f}" for x in os.getloadavg())
    description = machine_description(build)
    sections = []
    answers, run_series, startup, big, jobs_series = [], [], [], [], []
    if "answers" in args.only:
        only = [n for n in generate_answers.ANSWERS if not (args.quick and n == "records_100mb")]
        paths = generate_answers.generate(ROOT / "bench" / "data", only)

        def host_runs_for(name, size):
            if size >= 50 * MB:
                return args.host_runs_100mb
            if name.startswith("deep"):
                # The host printer's time grows with depth times size (it
                # re-renders every subtree at every level): fewer runs.
                return max(2, runs - 2)
            return runs

        answers = answer_benchmark(build, paths, runs, host_runs_for, before)
        sections += answer_tables(answers) + [""]
    if "run" in args.only:
        run_series = whole_run_benchmark(build, runs, module_env)
        sections += whole_run_table(run_series) + [""]
    if "startup" in args.only:
        startup = startup_benchmark(build, max(30, runs), module_env)
        sections += startup_table(startup) + [""]
    if "big-run" in args.only and not args.quick:
        big = big_run_benchmark(build, runs, args.host_runs_100mb, module_env, before)
        sections += big_run_table(big) + [""]
    if "jobs" in args.only:
        jobs_series = jobs_benchmark(build, runs, module_env)
        sections += jobs_table(jobs_series) + [""]
    if "keys" in args.only:
        sections += key_collisions.keys_table(key_collisions.keys_benchmark(build, max(runs, 7))) + [""]
    if "portable" in args.only and not args.quick:
        sections += portable_build.portable_build_section(build, (ROOT / args.portable).resolve(), runs) + [""]
    load_end = " ".join(f"{x:.2f}" for x in os.getloadavg())
    description = [d.replace("{load_start}", load_start).replace("{load_end}", load_end) for d in description]
    report = ["# Benchmark results", "", *description,
              f"- Whole benchmark took {time.time() - started:.0f} s (`python3 bench/run.py --build {args.build}"
              f"{' --quick' if args.quick else ''}`)", "",
              *targets_table(answers, run_series, startup, big, jobs_series), "", *sections]
    text = "\n".join(report).rstrip() + "\n"
    out = Path(args.out)
    if out.exists():
        alone = set(args.only) != set(every)
        stamp = f"Measured alone (`--only {' '.join(args.only)}`): {description[0][2:]}; {description[2][2:]}."
        text = merge_sections(out.read_text(), "\n".join(sections) if alone else text, stamp if alone else None)
    out.write_text(text)
    print()
    print(text)


if __name__ == "__main__":
    main()
