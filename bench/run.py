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

Every output that two contenders should agree on is compared; a contender
whose output differs or that fails is reported as such, not timed as if it
had worked. Runs of different contenders are interleaved, so a change of load
on the machine falls on all of them alike.
"""
import argparse
import datetime
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import generate_answers  # noqa: E402
import key_collisions  # noqa: E402
import portable_build  # noqa: E402
from measuring import (ANSWER_ACTION, MB, PASSWORD, Series, fmt, measure, median, output_digest,  # noqa: E402
                       controller_and_scratch, ratio, run_interleaved)

CONFIG_FILES = 50
REQUESTS_PER_RUN = 1 + 2 * CONFIG_FILES  # the driver's login, then login + query per file


# --- 1. decode + filter + print ------------------------------------------------------

def answer_benchmark(build, answers, runs, host_runs_for, before=()):
    bench_exe = build / "bin" / "quillon_bench"
    jq = shutil.which("jq")
    results = []
    scratch = Path(tempfile.mkdtemp(prefix="quillon-bench-"))
    for name, path in answers.items():
        size = path.stat().st_size
        filters = generate_answers.filters_for(name)
        native_cmd = [str(bench_exe), "answer", str(path)]
        for f in filters:
            native_cmd += ["--filter", f]
        host_cmd = [sys.executable, str(ROOT / "bench" / "host_stack.py"), str(path), *filters]
        # Same work, same output: checked once per input before timing (the
        # host stack is skipped where it would take minutes; the smaller
        # inputs of the same generator have been checked by then).
        print(f"== {name} ({size / MB:.1f} MB), filters {filters}", flush=True)
        if size <= 20 * MB:
            native_out, host_out = scratch / "native.txt", scratch / "host.txt"
            with open(native_out, "wb") as o:
                n = measure(native_cmd, stdout=o)
            with open(host_out, "wb") as o:
                h = measure(host_cmd, stdout=o)
            same = n.status == 0 and h.status == 0 and native_out.read_bytes() == host_out.read_bytes()
            checked = "identical output" if same else "OUTPUT DIFFERS"
            if not same:
                print(f"  native and host output differ (status {n.status}/{h.status}): {n.stderr[-300:]}",
                      flush=True)
        else:
            checked = "not compared (size)"
        series = [Series("native core", native_cmd, runs)]
        for label, earlier in before:
            series.append(Series(f"native core ({label})", [str(earlier / "bin" / "quillon_bench"), *native_cmd[1:]],
                                 runs))
        series.append(Series("host stack", host_cmd, host_runs_for(name, size)))
        if jq:
            series.append(Series("jq .", [jq, ".", str(path)], runs if size < 50 * MB else max(3, runs - 2),
                                 note="no filter: decodes and prints the whole answer"))
        run_interleaved(series)
        results.append({"name": name, "size": size, "filters": filters, "series": series, "checked": checked})
    shutil.rmtree(scratch, ignore_errors=True)
    return results


# --- 2. a whole run against the simulated controller --------------------------------

CONFIG_TEMPLATES = [
    ("Accounts: name and number", "results, account_name & account_id", {"action": "list_accounts"}),
    ("VPCs of ops-main", "results, vpc_id & name & cidr", {"action": "list_vpcs", "account_name": "ops-main"}),
    ("Gateways: name, VPC and state", "results, gw_name & vpc_id & state", {"action": "list_gateways"}),
    ("Gateway names", None, {"action": "list_gateway_names"}),
    ("One gateway in full", "results", {"action": "show_gateway", "gw_name": "gw-east-1"}),
]


def write_configs(directory: Path, count=CONFIG_FILES):
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.glob("*.cfg"):
        old.unlink()
    for i in range(count):
        description, filters, fields = CONFIG_TEMPLATES[i % len(CONFIG_TEMPLATES)]
        lines = ["[default]", f"description = {i:02d} {description}"]
        if filters:
            lines.append(f"filters = {filters}")
        lines += ["", "[norvane]"] + [f"{k} = {v}" for k, v in fields.items()]
        (directory / f"query_{i:02d}.cfg").write_text("\n".join(lines) + "\n")


def whole_run_benchmark(build, runs, module_env):
    configs = ROOT / "bench" / "data" / "configs"
    write_configs(configs)
    with controller_and_scratch((), "quillon-bench-run-") as (address, scratch):
        url = f"https://{address}/v1/api"
        login = ["--controller_ip", address, "--username", "admin", "--password", PASSWORD, "--config_dir",
                 str(configs)]
        bench_exe = str(build / "bin" / "quillon_bench")
        body = f"action=login&username=admin&password={PASSWORD}"
        series = [
            Series("native program", [str(build / "bin" / "quillon"), *login], runs),
            Series("module main", [sys.executable, "-m", "quillon", *login], runs, env=module_env),
            Series("host stack", [sys.executable, str(ROOT / "tests" / "python" / "host_reference.py"), address,
                                  "admin", PASSWORD, str(configs)], runs),
            Series(f"floor: {REQUESTS_PER_RUN} requests (libcurl)",
                   [bench_exe, "post-loop", url, str(REQUESTS_PER_RUN), body], runs),
            Series(f"floor: {REQUESTS_PER_RUN} requests (CurlTransport)",
                   [bench_exe, "post-loop", url, str(REQUESTS_PER_RUN), body, "--transport"], runs),
        ]
        outputs = {}

        def stdout_for(s):
            return open(scratch / (s.name.replace(" ", "_").replace(":", "") + ".out"), "wb")

        def check(s):
            # The three programs must print the same run; the first host run is the reference.
            if s.name.startswith("floor"):
                return None
            text = (scratch / (s.name.replace(" ", "_").replace(":", "") + ".out")).read_bytes()
            outputs.setdefault(s.name, text)
            reference = outputs.get("host stack")
            if reference is not None and text != reference:
                return "output differs from the host stack's"
            return None

        # The host stack goes first so that its output is the reference.
        series = [series[2], series[0], series[1], series[3], series[4]]
        print(f"== whole run: {CONFIG_FILES} configuration files, {REQUESTS_PER_RUN} requests, "
              f"controller at {address}", flush=True)
        run_interleaved(series, stdout_for=stdout_for, check=check)
        return series


# --- 4. whole runs on one answer, against the transfer floor ----------------------

BIG_ANSWER = "records_100mb"
WHOLE_RUN_ANSWERS = ["records_1mb", "records_10mb", BIG_ANSWER]


# The transfer floor: the same two requests with curl, each on a connection of
# its own as the program makes them, the query's answer to /dev/null. The
# CID is cut out of the login answer by the shell; curl's own line reports the
# bytes received, checked against the answer's size.
CURL_FLOOR_SCRIPT = r'''
login=$(curl -sSk --fail -d "$2" "$1") || exit 1
cid=${login#*\"CID\": \"}
cid=${cid%%\"*}
curl -sSk --fail -o /dev/null -w '%{size_download}\n' -d "CID=$cid&action=$3" "$1"
'''


def big_run_benchmark(build, runs, host_runs, module_env, before=()):
    paths = generate_answers.generate(ROOT / "bench" / "data", WHOLE_RUN_ANSWERS)
    return [one_answer_run(build, name, paths[name], runs, host_runs if name == BIG_ANSWER else runs, module_env,
                           before) for name in WHOLE_RUN_ANSWERS]


def one_answer_run(build, name, answer, runs, host_runs, module_env, before):
    size = answer.stat().st_size
    configs = ROOT / "bench" / "data" / f"configs_{name}"
    configs.mkdir(parents=True, exist_ok=True)
    for old in configs.glob("*.cfg"):
        old.unlink()
    filters = ", ".join(generate_answers.filters_for(name))
    (configs / "estate.cfg").write_text(f"[default]\ndescription = The whole estate's gateways\n"
                                        f"filters = {filters}\n\n[norvane]\naction = {ANSWER_ACTION}\n")
    with controller_and_scratch(["--serve-answer", str(answer)], "quillon-bench-big-") as (address, scratch):
        url = f"https://{address}/v1/api"
        login = ["--controller_ip", address, "--username", "admin", "--password", PASSWORD, "--config_dir",
                 str(configs)]
        series = [
            Series("floor: curl -k, 2 requests",
                   ["sh", "-c", CURL_FLOOR_SCRIPT, "sh", url, f"action=login&username=admin&password={PASSWORD}",
                    ANSWER_ACTION], runs),
            Series("native program", [str(build / "bin" / "quillon"), *login], runs),
            *[Series(f"native program ({label})", [str(earlier / "bin" / "quillon"), *login], runs)
              for label, earlier in before],
            Series("module main", [sys.executable, "-m", "quillon", *login], runs, env=module_env),
            Series("host stack", [sys.executable, str(ROOT / "tests" / "python" / "host_reference.py"), address,
                                  "admin", PASSWORD, str(configs)], host_runs),
        ]
        digests = {}

        def out_path(s):
            return scratch / (s.name.split(":")[0].replace(" ", "_").replace("(", "").replace(")", "") + ".out")

        def stdout_for(s):
            return open(out_path(s), "wb")

        def check(s):
            if s.name.startswith("floor"):
                got = out_path(s).read_text().strip()
                return None if got == str(size) else f"received {got or 'nothing'} bytes, not {size}"
            # Every program's output must be the native program's first one, byte for byte.
            digest = output_digest(out_path(s))
            digests.setdefault(s.name, digest)
            reference = digests.get("native program")
            if reference is not None and digest != reference:
                return "output differs from the native program's"
            return None

        print(f"== whole run on {name} ({size / MB:.1f} MB), controller at {address}", flush=True)
        run_interleaved(series, stdout_for=stdout_for, check=check)
        output_mb = out_path(series[1]).stat().st_size / MB if out_path(series[1]).exists() else None
        return {"name": name, "size": size, "output_mb": output_mb, "series": series}


# --- 5. parallel runs against a distant controller --------------------------------

JOBS_FILES = 40
JOBS_DELAY = 0.030
JOBS = 8


def jobs_benchmark(build, runs, module_env):
    configs = ROOT / "bench" / "data" / "configs_jobs"
    write_configs(configs, JOBS_FILES)
    with controller_and_scratch(["--delay", str(JOBS_DELAY)], "quillon-bench-jobs-") as (address, scratch):
        login = ["--controller_ip", address, "--username", "admin", "--password", PASSWORD, "--config_dir",
                 str(configs)]
        native = str(build / "bin" / "quillon")
        series = [
            Series("host stack", [sys.executable, str(ROOT / "tests" / "python" / "host_reference.py"), address,
                                  "admin", PASSWORD, str(configs)], runs),
            Series("native program", [native, *login], runs),
            Series(f"native --jobs {JOBS}", [native, *login, "--jobs", str(JOBS)], runs),
            Series(f"module main --jobs {JOBS}", [sys.executable, "-m", "quillon", *login, "--jobs", str(JOBS)],
                   runs, env=module_env),
        ]
        outputs = {}

        def out_path(s):
            return scratch / (s.name.replace(" ", "_") + ".out")

        def stdout_for(s):
            return open(out_path(s), "wb")

        def check(s):
            # The host stack goes first: its output is the reference.
            text = out_path(s).read_bytes()
            outputs.setdefault(s.name, text)
            reference = outputs.get("host stack")
            if reference is not None and text != reference:
                return "output differs from the host stack's"
            return None

        print(f"== parallel runs: {JOBS_FILES} configuration files, every answer {JOBS_DELAY * 1000:.0f} ms "
              f"late, controller at {address}", flush=True)
        run_interleaved(series, stdout_for=stdout_for, check=check)
        return series


# --- 3. start-up -------------------------------------------------------------------

def startup_benchmark(build, runs, module_env):
    commands = [
        ("native --help", [str(build / "bin" / "quillon"), "--help"]),
        ("import quillon.quillon", [sys.executable, "-c", "import quillon.quillon"]),
        ("import host stack modules", [sys.executable, "-c", "import requests, argparse, configparser, pprint"]),
    ]
    rows = []
    hyperfine = shutil.which("hyperfine")
    print("== start-up", flush=True)
    for name, cmd in commands:
        probe = measure(cmd, env=module_env)
        if probe.status != 0:
            rows.append({"name": name, "failure": f"exit status {probe.status}: {probe.stderr.strip()[-200:]}"})
            continue
        if hyperfine:
            with tempfile.NamedTemporaryFile(suffix=".json") as export:
                subprocess.run([hyperfine, "-N", "--style", "none", "--warmup", "5", "--runs", str(runs),
                                "--export-json", export.name, "--", " ".join(_quote(c) for c in cmd)],
                               env=module_env, check=True, stdout=subprocess.DEVNULL)
                times = json.load(open(export.name))["results"][0]["times"]
            tool = "hyperfine -N"
        else:
            times = [measure(cmd, env=module_env).wall for _ in range(runs)]
            tool = "own loop"
        rows.append({"name": name, "median": median(times), "min": min(times), "runs": len(times), "tool": tool})
        print(f"  {name:<28} median {median(times) * 1000:7.2f} ms over {len(times)} runs ({tool})", flush=True)
    return rows


def _quote(word):
    return "'" + word.replace("'", "'\\''") + "'" if any(c in word for c in " '\"&;|") else word


# --- the report --------------------------------------------------------------------

def machine_description(build):
    cpu = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    mem = ""
    try:
        for line in open("/proc/meminfo"):
            if line.startswith("MemTotal"):
                mem = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
    except OSError:
        pass
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    compiler = ""
    cache = build / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text().splitlines():
            if line.startswith("CMAKE_CXX_COMPILER:"):
                exe = line.split("=", 1)[1]
                compiler = subprocess.run([exe, "--version"], capture_output=True, text=True).stdout.splitlines()[0]
            if line.startswith("CMAKE_BUILD_TYPE:"):
                compiler += f" ({line.split('=', 1)[1]})"
    jq = shutil.which("jq")
    jq_version = subprocess.run([jq, "--version"], capture_output=True, text=True).stdout.strip() if jq else "absent"
    curl = shutil.which("curl")
    curl_version = (subprocess.run([curl, "--version"], capture_output=True, text=True).stdout.split(" (")[0]
                    if curl else "curl absent")
    return [
        f"- Date: {datetime.datetime.now().astimezone().strftime('%Y-%m-%d %H:%M %Z')}; commit {commit}",
        f"- Machine: {cpu}, {os.cpu_count()} CPUs, {mem} memory; {platform.platform()}",
        f"- Load average at start / end: {{load_start}} / {{load_end}} (other jobs share the machine)",
        f"- Build: {compiler}; Python {platform.python_version()}; {jq_version}; {curl_version}",
    ]


def answer_tables(results):
    lines = ["## 1. Decode + filter + print of one answer", "",
             "Wall and CPU (user + system) time of the whole process, median of the runs; MB/s is answer size over "
             "median wall time; peak RSS is the process's maximum resident set. Output goes to /dev/null. "
             "Ratios are the other contender's median over the native core's (higher: native faster).", "",
             "| answer | contender | runs | wall s | CPU s | MB/s | peak RSS MB | RSS / answer | x wall | x CPU |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    splits = ["", "Phase split (median seconds, in-process clocks):", "",
              "| answer | contender | read | decode | filter | print | output MB |", "|---|---|---:|---:|---:|---:|---:|"]
    notes = []
    for r in results:
        size_mb = r["size"] / MB
        native = r["series"][0]
        for s in r["series"]:
            if not s.ok():
                lines.append(f"| {r['name']} ({size_mb:.1f} MB) | {s.name} | {len(s.samples)} | failed: "
                             f"{(s.failure or 'no runs')[:80]} | | | | | | |")
                continue
            wall, cpu = s.wall(), s.cpu()
            xw = ratio(wall, native.wall()) if native.ok() and s is not native else None
            xc = ratio(cpu, native.cpu()) if native.ok() and s is not native else None
            lines.append(f"| {r['name']} ({size_mb:.1f} MB) | {s.name} | {len(s.samples)} | {fmt(wall)} | {fmt(cpu)} | "
                         f"{size_mb / wall:.1f} | {s.rss_mb():.1f} | {s.rss_mb() / size_mb:.2f} | "
                         f"{fmt(xw, 1) if xw else '-'} | {fmt(xc, 1) if xc else '-'} |")
            ph = s.phases()
            if ph:
                out_mb = f"{ph['bytes_out'] / MB:.1f}" if "bytes_out" in ph else ""
                splits.append(f"| {r['name']} | {s.name} | {fmt(ph.get('read'))} | {fmt(ph.get('decode'))} | "
                              f"{fmt(ph.get('filter'))} | {fmt(ph.get('print'))} | {out_mb} |")
        notes.append(f"- {r['name']}: filters {r['filters']}; native vs host output: {r['checked']}.")
    return lines + splits + ["", *notes, "- `jq .` decodes and prints the whole answer (no filter): the issue's "
                             "reference point, not the same work."]


def whole_run_table(series):
    lines = ["## 2. Whole run: 50 configuration files against the simulated controller (loopback HTTPS)", "",
             f"Each run makes {REQUESTS_PER_RUN} requests, each on a new TLS connection. The floor is a bare loop "
             "of the same number of fresh-connection login POSTs, with no configuration reading, decoding or "
             "printing. Outputs of the three programs are compared on every run.", "",
             "The controller is tools/sim_controller.py (TCP_NODELAY on its connections, so answers do not "
             "wait for delayed acknowledgements).", "",
             "| contender | runs | wall s | CPU s | peak RSS MB | x vs native | over floor (libcurl) |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    by_name = {s.name: s for s in series}
    native = by_name.get("native program")
    floor = next((s for s in series if s.name.startswith("floor") and "libcurl" in s.name), None)
    for s in series:
        if not s.ok():
            lines.append(f"| {s.name} | {len(s.samples)} | failed: {(s.failure or 'no runs')[:100]} | | | | |")
            continue
        x = ratio(s.wall(), native.wall()) if native is not None and native.ok() and s is not native else None
        over = ratio(s.wall(), floor.wall()) if floor is not None and floor.ok() else None
        lines.append(f"| {s.name} | {len(s.samples)} | {fmt(s.wall())} | {fmt(s.cpu())} | {s.rss_mb():.1f} | "
                     f"{fmt(x, 2) if x else '-'} | {fmt(over, 2) if over else '-'} |")
    lines.append("")
    lines.append("CPU s is the client process's own time; the controller (a Python process) is not counted.")
    return lines


def startup_table(rows):
    lines = ["## 3. Start-up", "", "| command | runs | median ms | min ms | tool |", "|---|---:|---:|---:|---|"]
    for r in rows:
        if "failure" in r:
            lines.append(f"| {r['name']} | 0 | failed: {r['failure'][:100]} | | |")
        else:
            lines.append(f"| {r['name']} | {r['runs']} | {r['median'] * 1000:.2f} | {r['min'] * 1000:.2f} | "
                         f"{r['tool']} |")
    return lines


def big_run_table(runs):
    lines = ["## 4. Whole runs on one answer (1, 10 and 100 MB), output to a file", "",
             "The simulated controller serves one records answer to one configuration file (filters "
             f"{generate_answers.filters_for(BIG_ANSWER)}). The programs make three requests (the driver's login, "
             "the file's login, the query), each on a new TLS connection. The floor is the same run's transfer: "
             "`curl -k` posting the login and the query with the CID, each in a process and on a connection of its "
             "own, the answer to /dev/null (the bytes received are checked). Every program's output is compared "
             "with the native program's on every run. A contender with a name in brackets is an earlier build "
             "(`--before`).", "",
             "| answer | contender | runs | wall s | CPU s | peak RSS MB | RSS / answer | x vs native | x floor |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
    for big in runs:
        size_mb = big["size"] / MB
        label = f"{big['name']} ({size_mb:.0f} MB, output {big['output_mb']:.1f} MB)" if big["output_mb"] else \
            big["name"]
        by_name = {s.name: s for s in big["series"]}
        native = by_name.get("native program")
        floor = next((s for s in big["series"] if s.name.startswith("floor")), None)
        for s in big["series"]:
            if not s.ok():
                lines.append(f"| {label} | {s.name} | {len(s.samples)} | failed: {(s.failure or 'no runs')[:100]} "
                             "| | | | | |")
                continue
            x = ratio(s.wall(), native.wall()) if native is not None and native.ok() and s is not native else None
            over = ratio(s.wall(), floor.wall()) if floor is not None and floor.ok() else None
            lines.append(f"| {label} | {s.name} | {len(s.samples)} | {fmt(s.wall())} | {fmt(s.cpu())} | "
                         f"{s.rss_mb():.1f} | {s.rss_mb() / size_mb:.2f} | {fmt(x, 2) if x else '-'} | "
                         f"{fmt(over, 2) if over else '-'} |")
    lines += ["", "CPU s and peak RSS are the client process's own (for the floor: the shell's and the two curls' "
              "CPU, the larger curl's RSS); the controller (a Python process) is not counted."]
    return lines


def jobs_table(series):
    lines = [f"## 5. Parallel runs: {JOBS_FILES} configuration files, every answer {JOBS_DELAY * 1000:.0f} ms late", "",
             f"The simulated controller holds every answer back {JOBS_DELAY * 1000:.0f} ms, as a distant one would. "
             f"Each run makes {1 + 2 * JOBS_FILES} requests. Without `--jobs` each is made in turn on a new "
             f"connection; with `--jobs {JOBS}` up to {JOBS} files run at once, each worker keeping its "
             "connection. Every output is compared with the host stack's on every run.", "",
             "| contender | runs | wall s | CPU s | peak RSS MB | x faster than host | x faster than native |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    by_name = {s.name: s for s in series}
    host, native = by_name.get("host stack"), by_name.get("native program")
    for s in series:
        if not s.ok():
            lines.append(f"| {s.name} | {len(s.samples)} | failed: {(s.failure or 'no runs')[:100]} | | | | |")
            continue
        xh = ratio(host.wall(), s.wall()) if host is not None and host.ok() and s is not host else None
        xn = ratio(native.wall(), s.wall()) if native is not None and native.ok() and s is not native else None
        lines.append(f"| {s.name} | {len(s.samples)} | {fmt(s.wall())} | {fmt(s.cpu())} | {s.rss_mb():.1f} | "
                     f"{fmt(xh, 2) if xh else '-'} | {fmt(xn, 2) if xn else '-'} |")
    return lines


def targets_table(answers, run_series, startup, big_runs=(), jobs_series=()):
    def series(result, name):
        return next((s for s in result["series"] if s.name == name and s.ok()), None)

    lines = ["## Targets", "", "| target | measured | met |", "|---|---|---|"]
    big = next((r for r in answers if r["name"] == "records_100mb"), None)
    if big is not None:
        native, host, jq = series(big, "native core"), series(big, "host stack"), series(big, "jq .")
        if native and host:
            xw, xc = host.wall() / native.wall(), host.cpu() / native.cpu()
            lines.append(f"| 100 MB: >= 40x faster than the host stack | {xw:.1f}x wall, {xc:.1f}x CPU "
                         f"(host: {len(host.samples)} run(s)) | {'yes' if xw >= 40 else 'no'} |")
        if native and jq:
            xw, xc = jq.wall() / native.wall(), jq.cpu() / native.cpu()
            lines.append(f"| 100 MB: >= 5x faster than `jq .` | {xw:.1f}x wall, {xc:.1f}x CPU | "
                         f"{'yes' if xw >= 5 else 'no'} |")
        phases = native.phases() if native else {}
        if phases.get("decode") is not None and phases.get("filter") is not None:
            seconds = phases["decode"] + phases["filter"]
            gbs = big["size"] / seconds / 1e9
            lines.append(f"| 100 MB: decode + filter at >= 1 GB/s (phase split) | {gbs:.2f} GB/s ({seconds:.3f} s) | "
                         f"{'yes' if gbs >= 1 else 'no'} |")
        if native:
            m = native.rss_mb() / (big["size"] / MB)
            lines.append(f"| 100 MB: peak memory <= 4x the answer | {m:.2f}x ({native.rss_mb():.0f} MB) | "
                         f"{'yes' if m <= 4 else 'no'} |")
    by_name = {s.name: s for s in run_series}
    native, host = by_name.get("native program"), by_name.get("host stack")
    floor = next((s for s in run_series if s.name.startswith("floor") and "libcurl" in s.name), None)
    if native and host and native.ok() and host.ok():
        x = host.wall() / native.wall()
        extra = f"; native is {native.wall() / floor.wall():.2f}x the TLS floor" if floor and floor.ok() else ""
        lines.append(f"| whole run: >= 3x faster than the host stack | {x:.2f}x{extra} | {'yes' if x >= 3 else 'no'} |")
    for big_run in big_runs:
        by_name = {s.name: s for s in big_run["series"]}
        native, module, host = (by_name.get(n) for n in ("native program", "module main", "host stack"))
        floor = next((s for s in big_run["series"] if s.name.startswith("floor")), None)
        native = native if native is not None and native.ok() else None
        is_big = big_run["name"] == BIG_ANSWER
        mb = f"{big_run['size'] / MB:.0f} MB"
        if native and floor and floor.ok():
            x, most = native.wall() / floor.wall(), 2 if is_big else 1.5
            lines.append(f"| {mb} whole run: <= {most}x the transfer floor | {x:.2f}x ({fmt(native.wall())} s "
                         f"against {fmt(floor.wall())} s) | {'yes' if x <= most else 'no'} |")
        if not is_big:
            continue
        if native and host and host.ok():
            x = host.wall() / native.wall()
            lines.append(f"| {mb} whole run: >= 100x faster than the host stack | {x:.1f}x (host: "
                         f"{len(host.samples)} run(s)) | {'yes' if x >= 100 else 'no'} |")
        if native and module and module.ok():
            x = module.wall() / native.wall()
            lines.append(f"| {mb} whole run: module main <= 1.2x native | {x:.2f}x | {'yes' if x <= 1.2 else 'no'} |")
        if native:
            m = native.rss_mb() / (big_run["size"] / MB)
            lines.append(f"| {mb} whole run: peak memory <= 2x the answer | {m:.2f}x ({native.rss_mb():.0f} MB) | "
                         f"{'yes' if m <= 2 else 'no'} |")
    by_name = {s.name: s for s in jobs_series}
    parallel, native, host = (by_name.get(n) for n in (f"native --jobs {JOBS}", "native program", "host stack"))
    if parallel is not None and parallel.ok():
        if host is not None and host.ok():
            x = host.wall() / parallel.wall()
            lines.append(f"| --jobs {JOBS}, {JOBS_FILES} files, {JOBS_DELAY * 1000:.0f} ms answers: >= 8x faster than "
                         f"the host stack | {x:.2f}x | {'yes' if x >= 8 else 'no'} |")
        if native is not None and native.ok():
            x = native.wall() / parallel.wall()
            lines.append(f"| --jobs {JOBS}, {JOBS_FILES} files, {JOBS_DELAY * 1000:.0f} ms answers: >= 5x faster than "
                         f"without --jobs | {x:.2f}x | {'yes' if x >= 5 else 'no'} |")
    help_row = next((r for r in startup if r["name"] == "native --help" and "median" in r), None)
    if help_row:
        ms = help_row["median"] * 1000
        lines.append(f"| native `--help` under 5 ms median | {ms:.2f} ms | {'yes' if ms < 5 else 'no'} |")
    return lines


def merge_sections(old, new, stamp=None):
    """The results file `new` (a whole report, or with `stamp` some sections
    measured alone) merged into `old`: each "## " section of `new` replaces
    its namesake, and the sections of `old` that `new` lacks (records of
    measurements no longer run, sections not run this time) stay. Sections
    measured alone say so under their title."""
    def split(text):
        blocks, current = [], []
        for line in text.rstrip().splitlines():
            if line.startswith("## ") and current:
                blocks.append(current)
                current = []
            current.append(line)
        return blocks + ([current] if current else [])

    def title(block):
        return block[0].split(" ")[1] if block[0].startswith("## ") else None

    old_blocks, new_blocks = split(old), split(new)
    if stamp is not None:
        new_blocks = [old_blocks[0]] + [[b[0], "", stamp, *b[1:]] for b in new_blocks if title(b)]
    fresh = {title(b) for b in new_blocks}
    merged = new_blocks + [[*b, ""] if b[-1] else b for b in old_blocks if title(b) and title(b) not in fresh]

    def order(block):
        t = title(block)
        return (0, 0) if t is None else (1, 0) if not t[0].isdigit() else (2, float(t.rstrip(".")))

    merged.sort(key=order)
    return "\n".join(line for b in merged for line in b).rstrip() + "\n"


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
    for spec in args.before:
        label, _, directory = spec.partition("=")
        if not directory or not (Path(directory) / "bin" / "quillon").exists():
            sys.exit(f"--before {spec}: expected NAME=BUILD with BUILD/bin/quillon")
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
