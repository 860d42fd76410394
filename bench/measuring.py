"""What the benchmark sections share: measuring a process, interleaved series
of runs, the simulated controller, and the report's number formats.

    python3 bench/measuring.py --serve-answer FILE
        serves FILE as the answer to every `ANSWER_ACTION` query (the
        controller of the sections that run on one large answer).
"""
import contextlib
import hashlib
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MB = 1_000_000
PASSWORD = "bench-pw"
ANSWER_ACTION = "list_estate"


# --- measuring one process ---------------------------------------------------------

class Sample:
    def __init__(self, wall, cpu, rss_kb, status, stderr):
        self.wall, self.cpu, self.rss_kb, self.status, self.stderr = wall, cpu, rss_kb, status, stderr


# A child's peak RSS counts the memory of the process it was forked from
# (Linux keeps the high-water mark across exec), so each command runs under
# the small /usr/bin/time, whose own child starts from time's ~2 MB.
GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else None


def measure(cmd, env=None, stdout=None, timeout=900):
    """Runs `cmd` once: wall time, CPU time (user + system) and peak RSS of that process."""
    out = stdout if stdout is not None else subprocess.DEVNULL
    with tempfile.TemporaryFile() as err, tempfile.NamedTemporaryFile(mode="r") as rss:
        wrapped = [GNU_TIME, "-f", "%M", "-o", rss.name, *cmd] if GNU_TIME else cmd
        start = time.perf_counter()
        proc = subprocess.Popen(wrapped, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)
        deadline = start + timeout
        while True:
            pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
            if pid:
                break
            if time.perf_counter() > deadline:
                proc.kill()
                pid, status, usage = os.wait4(proc.pid, 0)
                break
            time.sleep(0.0005)
        wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        err.seek(0)
        text = err.read().decode("utf-8", "replace")
        rss_kb = usage.ru_maxrss
        if GNU_TIME:
            # time reports the child's status as its own; its last line is %M.
            lines = rss.read().strip().splitlines()
            try:
                rss_kb = int(lines[-1])
            except (IndexError, ValueError):
                pass
    return Sample(wall, usage.ru_utime + usage.ru_stime, rss_kb, proc.returncode, text)


def median(values):
    return statistics.median(values) if values else None


class Series:
    """The samples of one contender on one input."""

    def __init__(self, name, cmd, runs, env=None, note=""):
        self.name, self.cmd, self.runs, self.env, self.note = name, cmd, runs, env, note
        self.samples = []
        self.failure = None

    def ok(self):
        return self.failure is None and bool(self.samples)

    def wall(self):
        return median([s.wall for s in self.samples])

    def cpu(self):
        return median([s.cpu for s in self.samples])

    def rss_mb(self):
        return median([s.rss_kb for s in self.samples]) * 1024 / MB

    def phases(self):
        """Median of each phase that the process reported as a JSON line on standard error."""
        rows = []
        for s in self.samples:
            for line in s.stderr.splitlines():
                if line.startswith("{"):
                    rows.append(json.loads(line))
        if not rows:
            return {}
        return {k: median([r[k] for r in rows]) for k in rows[0]}


def run_interleaved(series_list, stdout_for=None, check=None, rotate=False):
    """Round-robin over the contenders until each has its number of runs.

    With `rotate`, each round starts one contender later, so that none is
    always the one run after the machine has had a rest (or after a run
    that left work behind: dirty pages, a controller collecting garbage)."""
    for round_no in range(max(s.runs for s in series_list)):
        shift = round_no % len(series_list) if rotate else 0
        for s in series_list[shift:] + series_list[:shift]:
            if s.failure is not None or round_no >= s.runs:
                continue
            out = stdout_for(s) if stdout_for else None
            sample = measure(s.cmd, env=s.env, stdout=out)
            if out is not None:
                out.close()
            if sample.status != 0:
                s.failure = f"exit status {sample.status}: {sample.stderr.strip()[-300:]}"
                continue
            if check is not None:
                problem = check(s)
                if problem:
                    s.failure = problem
                    continue
            s.samples.append(sample)
            print(f"  {s.name:<28} run {round_no + 1}/{s.runs}: {sample.wall:8.3f} s wall, "
                  f"{sample.cpu:8.3f} s CPU, {sample.rss_kb / 1024:8.1f} MiB", flush=True)


def output_digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def fmt(x, digits=3):
    return "n/a" if x is None else f"{x:.{digits}f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def start_controller(extra=()):
    """The simulated controller in a process of its own: (process, address).

    `extra`: more arguments for tools/sim_controller.py, or ["--serve-answer",
    FILE] to serve FILE as the answer to every `ANSWER_ACTION` query instead
    (see serve_answer)."""
    if extra and extra[0] == "--serve-answer":
        cmd = [sys.executable, str(Path(__file__).resolve()), *extra]
    else:
        cmd = [sys.executable, str(ROOT / "tools" / "sim_controller.py"), "--print-address",
               "--lifetime", "1800", "--user", f"admin:{PASSWORD}", *extra]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True)
    address = proc.stdout.readline().strip()
    if not address:
        proc.kill()
        raise RuntimeError("the simulated controller did not start")
    return proc, address


@contextlib.contextmanager
def controller_and_scratch(extra=(), prefix="quillon-bench-"):
    """The simulated controller's address (see start_controller) and a scratch
    directory, both gone afterwards."""
    controller, address = start_controller(extra)
    try:
        with tempfile.TemporaryDirectory(prefix=prefix) as scratch:
            yield address, Path(scratch)
    finally:
        controller.terminate()
        controller.wait(timeout=10)


def serve_answer(path):
    """The simulated controller answering every `ANSWER_ACTION` query with the bytes of `path`.

    Run as a process of its own, so that its sending does not compete with
    the measuring loop for the interpreter."""
    sys.path.insert(0, str(ROOT / "tools"))
    from sim_controller import SimController

    body = Path(path).read_bytes()
    sim = SimController(users={"admin": PASSWORD}, lifetime=1800).start()
    sim.script(body=body, action=ANSWER_ACTION, count=1 << 62)
    print(sim.address, flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        sim.wait()
    finally:
        sim.stop()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--serve-answer":
        serve_answer(sys.argv[2])
    else:
        sys.exit(__doc__)
