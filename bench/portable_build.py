"""Section 8 of make bench: the 100 MB whole run of section 4 by the native
program of two builds, interleaved: the system compiler's (`build`) and zig's
for the oldest glibc, the one every wheel carries (`portable`, make portable)."""
from pathlib import Path

import generate_answers
from measuring import ANSWER_ACTION, PASSWORD, ROOT, Series, controller_and_scratch, fmt, output_digest, ratio, \
    run_interleaved

ANSWER = "records_100mb"
TITLE = "## 8. Portable build: the 100 MB whole run, system compiler's build against the wheels' build"


def portable_build_section(build: Path, portable: Path, runs: int):
    programs = {"native program (this build)": build / "bin" / "quillon",
                "native program (portable build)": portable / "bin" / "quillon"}
    if not all(p.exists() for p in programs.values()):
        return [TITLE, "", f"Not run: build both first ({', '.join(map(str, programs.values()))})."]
    answer = generate_answers.generate(ROOT / "bench" / "data", [ANSWER])[ANSWER]
    configs = ROOT / "bench" / "data" / "configs_portable"
    configs.mkdir(parents=True, exist_ok=True)
    filters = ", ".join(generate_answers.filters_for(ANSWER))
    (configs / "estate.cfg").write_text(f"[default]\ndescription = The whole estate's gateways\n"
                                        f"filters = {filters}\n\n[norvane]\naction = {ANSWER_ACTION}\n")
    with controller_and_scratch(["--serve-answer", str(answer)], "quillon-bench-portable-") as (address, scratch):
        login = ["--controller_ip", address, "--username", "admin", "--password", PASSWORD, "--config_dir",
                 str(configs)]
        series = [Series(name, [str(program), *login], runs) for name, program in programs.items()]
        digests = {}

        def out_path(s):
            return scratch / (str(series.index(s)) + ".out")

        def check(s):
            digests.setdefault(s.name, output_digest(out_path(s)))
            return None if len(set(digests.values())) == 1 else "output differs from the other build's"

        print(f"== portable build: whole run on {ANSWER}, controller at {address}", flush=True)
        run_interleaved(series, stdout_for=lambda s: open(out_path(s), "wb"), check=check)
    lines = [TITLE, "", f"The run of section 4 (one configuration file, the `{ANSWER}` answer, output to a file), "
             "by `build/dev/bin/quillon` (the system's compiler and C++ runtime) and `build/portable/bin/quillon` "
             "(zig's clang for glibc 2.17 with its own libc++ linked in, as in every wheel), interleaved; outputs "
             "compared on every run. Ratios are the portable build's median over this build's (under 1: faster).", "",
             "| build | runs | wall s | CPU s | peak RSS MB | x wall | x CPU |", "|---|---:|---:|---:|---:|---:|---:|"]
    this = series[0]
    for s in series:
        if not s.ok():
            lines.append(f"| {s.name} | {len(s.samples)} | failed: {(s.failure or 'no runs')[:100]} | | | | |")
            continue
        xw = ratio(s.wall(), this.wall()) if s is not this and this.ok() else None
        xc = ratio(s.cpu(), this.cpu()) if s is not this and this.ok() else None
        lines.append(f"| {s.name} | {len(s.samples)} | {fmt(s.wall())} | {fmt(s.cpu())} | {s.rss_mb():.1f} | "
                     f"{fmt(xw, 2) if xw else '-'} | {fmt(xc, 2) if xc else '-'} |")
    return lines
