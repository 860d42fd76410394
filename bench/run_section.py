"""Section 2 of make bench: a whole run of 50 configuration files against the
simulated controller, against the host stack and the TLS floor."""
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from measuring import PASSWORD, Series, fmt, controller_and_scratch, ratio, run_interleaved  # noqa: E402

CONFIG_FILES = 50
REQUESTS_PER_RUN = 1 + 2 * CONFIG_FILES  # the driver's login, then login + query per file


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
