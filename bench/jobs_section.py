"""Section 5 of make bench: parallel runs against a distant controller."""
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from measuring import PASSWORD, Series, fmt, controller_and_scratch, ratio, run_interleaved  # noqa: E402
from run_section import write_configs  # noqa: E402


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
