"""make bench, section 6: each thread the core starts for speed, on and off.

The native program's whole run on the 10 MB and the 100 MB records answer
(served by the simulated controller; decoded, filtered and printed to a
file), with every speed thread on, and with each turned off in turn by
QUILLON_THREADS. Runs of the variants are interleaved, each round starting
with the next variant, so a change of load falls on all of them alike;
every variant's output must be the same.
A thread is worth keeping when turning it off makes either run at least 10%
slower: the median, over the rounds, of the variant's wall time over the
all-on run's of the same round (pairs within a round share the machine's
load of the moment).
"""
import os
import shutil
import statistics
import tempfile
from pathlib import Path

import generate_answers
from measuring import ANSWER_ACTION, MB, PASSWORD, ROOT, Series, fmt, output_digest, run_interleaved, start_controller

ANSWERS = ["records_10mb", "records_100mb"]
# The switch of each thread, as QUILLON_THREADS spells it (base/speed_threads.hpp).
SWITCHES = ["no-print", "no-decode", "no-prefault"]
KEEP_GAIN = 0.10


def run_on(build, name, runs):
    answer = generate_answers.generate(ROOT / "bench" / "data", [name])[name]
    configs = ROOT / "bench" / "data" / f"configs_threads_{name}"
    configs.mkdir(parents=True, exist_ok=True)
    filters = ", ".join(generate_answers.filters_for(name))
    (configs / "estate.cfg").write_text(f"[default]\ndescription = The estate\nfilters = {filters}\n\n"
                                        f"[norvane]\naction = {ANSWER_ACTION}\n")
    controller, address = start_controller(["--serve-answer", str(answer)])
    login = ["--controller_ip", address, "--username", "admin", "--password", PASSWORD, "--config_dir",
             str(configs)]
    scratch = Path(tempfile.mkdtemp(prefix="quillon-bench-threads-"))
    try:
        base_env = {k: v for k, v in os.environ.items() if k != "QUILLON_THREADS"}
        series = [Series("all on", [str(build / "bin" / "quillon"), *login], runs, env=base_env)]
        series += [Series(switch, series[0].cmd, runs, env=dict(base_env, QUILLON_THREADS=switch))
                   for switch in SWITCHES]
        # The same program twice: how far apart two identical variants come out.
        series.append(Series("all on, again", series[0].cmd, runs, env=base_env))
        digests = {}

        def out_path(s):
            return scratch / (s.name.replace(" ", "_") + ".out")

        def check(s):
            digest = output_digest(out_path(s))
            reference = digests.setdefault("reference", digest)
            return None if digest == reference else "output differs from the first run's"

        print(f"== speed threads on and off: {name}, controller at {address}", flush=True)
        run_interleaved(series, stdout_for=lambda s: open(out_path(s), "wb"), check=check, rotate=True)
        return {"name": name, "size": answer.stat().st_size, "series": series}
    finally:
        controller.terminate()
        controller.wait(timeout=10)
        shutil.rmtree(scratch, ignore_errors=True)


def threads_benchmark(build, runs):
    return [run_on(build, name, runs) for name in ANSWERS]


def paired_gain(variant, on):
    """Median over the rounds of variant / all-on wall time, less one."""
    pairs = [v.wall / o.wall for v, o in zip(variant.samples, on.samples)]
    return statistics.median(pairs) - 1 if pairs else None


def threads_table(results):
    lines = ["## 6. Speed threads on and off: whole run on one answer", "",
             "The native program against the simulated controller serving the answer (three requests, output to "
             "a file), with every speed thread on and with each turned off by `QUILLON_THREADS`; runs interleaved, "
             "medians. Gain is what the thread saves: the median over the rounds of the variant's wall time over the "
             "all-on run's in the same round, less one. "
             "The all-on program also runs a second time as a variant of its own: its \"gain\" is the noise of "
             f"the measurement. A thread is kept where it gains at least {KEEP_GAIN:.0%} on either answer.", "",
             "| answer | variant | runs | wall s | CPU s | peak RSS MB | gain of the thread |",
             "|---|---|---:|---:|---:|---:|---:|"]
    for r in results:
        on = r["series"][0]
        for s in r["series"]:
            if not s.ok():
                lines.append(f"| {r['name']} | {s.name} | {len(s.samples)} | failed: {(s.failure or '')[:80]} | | | |")
                continue
            gain = f"{paired_gain(s, on):+.1%}" if on.ok() and s is not on else "-"
            lines.append(f"| {r['name']} ({r['size'] / MB:.0f} MB) | {s.name} | {len(s.samples)} | {fmt(s.wall())} | "
                         f"{fmt(s.cpu())} | {s.rss_mb():.1f} | {gain} |")
    return lines
