"""make bench, section 7: keys alike at both ends cost no more than distinct ones.

An answer whose one object holds 100,000 keys of 33 bytes that share their
first and last eight, against one whose as many keys of the same length
differ at both ends. The native core (bench/quillon_bench) decodes and prints
each; runs interleaved, medians. The ratio of the two decode phases' CPU
time (the decoder runs on one thread; on a loaded machine its wall time is
mostly waiting) should stay near 1: a hash of part of a key would make the
first quadratic.
"""
import json
from pathlib import Path

from measuring import MB, ROOT, Series, fmt, run_interleaved

KEYS = 100_000


def answers():
    out = ROOT / "bench" / "data"
    out.mkdir(parents=True, exist_ok=True)
    shapes = {
        "keys alike at both ends": ("alike", lambda i: f"prefix__{i:017d}__suffix"),
        "distinct keys": ("distinct", lambda i: f"{i:08d}_{'k' * 15}_{i:08d}"),
    }
    paths = {}
    for name, (stem, key) in shapes.items():
        path = out / f"keys_{stem}_{KEYS}.json"
        if not path.exists():
            path.write_text(json.dumps({key(i): i for i in range(KEYS)}))
        paths[name] = path
    return paths


def keys_benchmark(build, runs):
    bench_exe = build / "bin" / "quillon_bench"
    paths = answers()
    series = [Series(name, [str(bench_exe), "answer", str(path)], runs) for name, path in paths.items()]
    print(f"== {KEYS} keys alike at both ends against distinct keys", flush=True)
    run_interleaved(series, rotate=True)
    return {"sizes": {name: path.stat().st_size for name, path in paths.items()}, "series": series}


def keys_table(result):
    lines = [f"## 7. {KEYS:,} object keys alike at both ends", "",
             "One object of 33-byte keys sharing their first and last 8 bytes, against one of as many keys of "
             "the same length that differ at both ends; the native core decodes and prints each (output to "
             "/dev/null). Runs interleaved, medians; decode from the in-process phase split, its CPU time the "
             "measure (one thread decodes). Target: alike within 3x of distinct.", "",
             "| keys | runs | size MB | wall s | decode wall s | decode CPU s | x distinct (decode CPU) |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    series = result["series"]
    distinct = series[-1]
    for s in series:
        if not s.ok():
            lines.append(f"| {s.name} | {len(s.samples)} | failed: {(s.failure or '')[:80]} | | | | |")
            continue
        phases = s.phases()
        cpu = phases.get("decode_cpu")
        base = distinct.phases().get("decode_cpu") if distinct.ok() else None
        x_cpu = fmt(cpu / base, 2) if cpu and base else "n/a"
        lines.append(f"| {s.name} | {len(s.samples)} | {result['sizes'][s.name] / MB:.1f} | {fmt(s.wall())} | "
                     f"{fmt(phases.get('decode'))} | {fmt(cpu)} | {x_cpu} |")
    return lines


if __name__ == "__main__":
    print("\n".join(str(p) for p in answers().values()))
