#!/usr/bin/env python3
"""Throughput of the native printer against pprint.PrettyPrinter(width=200), same value, same output.

    python3 bench/bench_printer.py [--build build/dev] [--mb 10] [--repeat 3]

The native figure includes converting the host value and building the result
text, so both sides start from and end with host objects. Each figure is the
best of --repeat runs. Reports only; asserts nothing about speed.
"""
import argparse
import gc
import pprint
import random
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def generated_value(megabytes, seed=7):
    """Controller-like records: short and long texts, numbers, nested lists and objects."""
    rng = random.Random(seed)
    words = ["gateway", "tunnel", "vpc", "subnet", "route", "peer", "up", "down", "état", "東京", "it's"]
    records, size = [], 0
    while size < megabytes * 1_000_000:
        text = " ".join(rng.choice(words) for _ in range(rng.randint(1, 60)))
        record = {
            "gw_name": "gw-%06d" % len(records),
            "vpc_id": "vpc-%x" % rng.getrandbits(48),
            "size": rng.choice([1, 2, 4, 8]) * 1024,
            "cpu": rng.random() * 100,
            "tags": [rng.choice(words) for _ in range(rng.randint(0, 8))],
            "description": text + ("\n" + text if rng.random() < 0.2 else ""),
            "routes": [{"cidr": "10.%d.%d.0/24" % (rng.randint(0, 255), rng.randint(0, 255)), "metric": rng.randint(0, 10 ** 12)}
                       for _ in range(rng.randint(0, 4))],
            "enabled": rng.random() < 0.5,
            "peer": None,
        }
        records.append(record)
        size += len(repr(record))
    return {"return": True, "results": records}


def best(repeat, run):
    times = []
    for _ in range(repeat):
        gc.collect()
        start = time.perf_counter()
        out = run()
        times.append(time.perf_counter() - start)
    return min(times), out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build" / "dev"))
    parser.add_argument("--mb", type=float, default=10)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    sys.path.insert(0, str(Path(args.build) / "python"))
    from quillon import _core

    value = generated_value(args.mb)
    host = pprint.PrettyPrinter(width=200)
    host_time, host_text = best(args.repeat, lambda: host.pformat(value))
    core_time, core_text = best(args.repeat, lambda: _core.pformat(value))
    if core_text != host_text:
        print("outputs differ: the native printer is not timed as if it had worked")
        return 1
    mb = len(host_text.encode("utf-8")) / 1e6
    print(f"output: {mb:.1f} MB, {host_text.count(chr(10)) + 1} lines")
    print(f"pprint: {host_time:8.3f} s  {mb / host_time:8.1f} MB/s")
    print(f"native: {core_time:8.3f} s  {mb / core_time:8.1f} MB/s")
    print(f"ratio:  {host_time / core_time:8.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
