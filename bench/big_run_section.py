"""Section 4 of make bench: whole runs on the 1, 10 and 100 MB answers against
the transfer floor of the same run."""
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import generate_answers  # noqa: E402
from measuring import (ANSWER_ACTION, MB, PASSWORD, Series, controller_and_scratch, fmt, output_digest,  # noqa: E402
                       ratio, run_interleaved)


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
