"""make bench's results file: the machine, the targets table, and the merging
of sections measured alone into the file."""
import datetime
import os
import platform
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from measuring import MB, fmt  # noqa: E402
from big_run_section import BIG_ANSWER  # noqa: E402
from jobs_section import JOBS, JOBS_DELAY, JOBS_FILES  # noqa: E402


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
