"""Section 3 of make bench: start-up of the native program and the module."""
import json
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from measuring import measure, median  # noqa: E402


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

def startup_table(rows):
    lines = ["## 3. Start-up", "", "| command | runs | median ms | min ms | tool |", "|---|---:|---:|---:|---|"]
    for r in rows:
        if "failure" in r:
            lines.append(f"| {r['name']} | 0 | failed: {r['failure'][:100]} | | |")
        else:
            lines.append(f"| {r['name']} | {r['runs']} | {r['median'] * 1000:.2f} | {r['min'] * 1000:.2f} | "
                         f"{r['tool']} |")
    return lines
