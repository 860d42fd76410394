#!/usr/bin/env python3
"""Reading a 50 MB configuration file of 500,000 keys: the core's reader
against the host's ConfigParser, and the expansion of every value.

    python3 bench/bench_config_reader.py [--build build/dev] [--keys 500000]

Prints one JSON line of timings (seconds, best of --repeat); exits 1 when the
core's read takes a second or more.
"""
import argparse
import configparser
import json
import os
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def write_config(path: Path, keys: int, per_section: int = 1000) -> int:
    """About 100 bytes per key; some values refer to others, some continue."""
    filler = "v" * 75
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("[DEFAULT]\nbase = /opt/quillon\n")
        for k in range(keys):
            if k % per_section == 0:
                f.write(f"\n[section_{k // per_section:05d}]\n# generated\n")
            if k % 10 == 0:
                f.write(f"Key_{k:07d} = %(base)s/{filler}\n")
            elif k % 10 == 5:
                f.write(f"key_{k:07d} = {filler[:40]}\n    {filler[:30]}\n")
            else:
                f.write(f"key_{k:07d} = {filler} {k:012d}\n")
    return path.stat().st_size


def best(repeat, fn):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return min(times), result


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("QUILLON_BUILD", "build/dev"))
    ap.add_argument("--keys", type=int, default=500_000)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--no-host", action="store_true", help="skip the host reader")
    args = ap.parse_args()
    sys.path.insert(0, str((ROOT / args.build / "python").resolve()))
    from quillon import _core

    with tempfile.TemporaryDirectory() as d:
        path = Path(d) / "big.cfg"
        size = write_config(path, args.keys)
        read_s, reader = best(args.repeat, lambda: _core.read_config_file(str(path)))

        def get_all():
            return sum(len(reader.get(s, k)) for s in reader.sections() for k in reader.options(s))

        get_s, _ = best(1, get_all)
        result = {"bytes": size, "keys": args.keys, "core_read_s": round(read_s, 4),
                  "core_get_all_s": round(get_s, 4)}
        if not args.no_host:
            def host_read():
                parser = configparser.ConfigParser()
                with open(path, encoding="utf-8") as f:
                    parser.read_file(f)
                return parser

            host_s, _ = best(1, host_read)
            result["host_read_s"] = round(host_s, 4)
    print(json.dumps(result))
    return 0 if read_s < 1.0 else 1


if __name__ == "__main__":
    sys.exit(main())
