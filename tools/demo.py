"""make demo: runs the tool against the simulated controller, with the default
configuration directory, once as the native program and once as the module,
then as JSON lines read by jq."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def json_into_jq(build, login):
    """The native program's --json output read by jq, as a script would; true when both succeed."""
    if shutil.which("jq") is None:
        print("== (jq is not installed: skipped)", flush=True)
        return True
    lines = subprocess.Popen([str(build / "bin" / "quillon"), "--json", *login], stdout=subprocess.PIPE)
    jq = subprocess.run(["jq", "-c", ".result"], stdin=lines.stdout)
    lines.stdout.close()
    status = lines.wait()
    print(f"== exit status {status}, jq {jq.returncode}", flush=True)
    return status == 0 and jq.returncode == 0


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "dev")
    sim = subprocess.Popen(
        [sys.executable, str(ROOT / "tools" / "sim_controller.py"), "--print-address", "--lifetime", "120",
         "--user", "admin:demo-password"],
        stdout=subprocess.PIPE, text=True)
    try:
        address = sim.stdout.readline().strip()
        login = ["--controller_ip", address, "--username", "admin", "--password", "demo-password"]
        print(f"== simulated controller at https://{address}/v1/api", flush=True)
        print("== native program: quillon " + " ".join(login), flush=True)
        native = subprocess.run([str(build / "bin" / "quillon"), *login])
        print(f"== exit status {native.returncode}", flush=True)
        print("== Python module: python -m quillon " + " ".join(login), flush=True)
        env = dict(os.environ, PYTHONPATH=str(build / "python"))
        module = subprocess.run([sys.executable, "-m", "quillon", *login], env=env)
        print(f"== exit status {module.returncode}", flush=True)
        print("== JSON lines into jq: quillon --json " + " ".join(login) + " | jq -c .result", flush=True)
        lines_ok = json_into_jq(build, login)
        print("== a refused login: wrong password", flush=True)
        refused = subprocess.run([str(build / "bin" / "quillon"), *login[:4], "--password", "wrong"])
        print(f"== exit status {refused.returncode}", flush=True)
        sys.exit(native.returncode or module.returncode or (0 if lines_ok else 1))
    finally:
        sim.terminate()
        sim.wait(timeout=10)


if __name__ == "__main__":
    main()
