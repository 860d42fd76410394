#!/usr/bin/env python3
"""Cost of filtering a decoded answer, against the cost of decoding it, in one run.

Core: quillon._core.time_decode_and_filter times the core decoder and the core
filter separately on the same bytes. Host: json.loads against the filter on
the host's own objects (quillon._core.filter_host). Each figure is the best of
--repeat runs.

    python3 bench/bench_filter.py [--build build/dev] [--answer FILE] [--repeat 3] [--max-ratio 0.2]

Exits with status 1 when the core's filter costs more than --max-ratio of its decode.
"""
import argparse
import gc
import json
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
# Three expressions, as a configuration file would give them: into the records,
# keep four keys of each, then step into one of those.
FILTERS = ["results", "gw_name & vpc_id & size & tags", "size"]


def best(repeat, run):
    times = []
    for _ in range(repeat):
        gc.collect()
        times.append(run())
    return min(times)


def timed(function, *args):
    start = time.perf_counter()
    function(*args)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "dev"))
    parser.add_argument("--answer", default=str(HERE / "data" / "records_100mb.json"))
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--max-ratio", type=float, default=0.2)
    parser.add_argument("--skip-host", action="store_true", help="measure the core only")
    args = parser.parse_args()

    sys.path.insert(0, str(Path(args.build) / "python"))
    from quillon import _core

    answer = Path(args.answer)
    if not answer.exists():
        subprocess.run([sys.executable, str(HERE / "generate_answers.py"), "--only", answer.stem], check=True)
    data = answer.read_bytes()
    print(f"answer: {answer.name}, {len(data) / 1e6:.1f} MB; filters: {FILTERS}")

    core = [_core.time_decode_and_filter(data, FILTERS) for _ in range(args.repeat)]
    core_decode = min(c[0] for c in core)
    core_filter = min(c[1] for c in core)
    rows = [("core", core_decode, core_filter)]

    if not args.skip_host:
        host_decode = best(args.repeat, lambda: timed(json.loads, data))
        value = json.loads(data)
        host_filter = best(args.repeat, lambda: timed(_core.filter_host, value, FILTERS))
        rows.append(("host", host_decode, host_filter))

    print(f"{'path':<6}{'decode s':>12}{'filter s':>12}{'filter/decode':>16}")
    for name, decode, filtered in rows:
        print(f"{name:<6}{decode:>12.4f}{filtered:>12.4f}{filtered / decode:>15.1%}")
    ratio = core_filter / core_decode
    if ratio > args.max_ratio:
        print(f"core filter costs {ratio:.1%} of decoding, over the {args.max_ratio:.0%} allowed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
