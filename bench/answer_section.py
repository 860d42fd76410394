"""Section 1 of make bench: decode + filter + print of one answer, the native core
against the host stack and `jq .`."""
import shutil
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import generate_answers  # noqa: E402
from measuring import MB, Series, fmt, measure, ratio, run_interleaved  # noqa: E402


# --- 1. decode + filter + print ------------------------------------------------------

def answer_benchmark(build, answers, runs, host_runs_for, before=()):
    bench_exe = build / "bin" / "quillon_bench"
    jq = shutil.which("jq")
    results = []
    scratch = Path(tempfile.mkdtemp(prefix="quillon-bench-"))
    for name, path in answers.items():
        size = path.stat().st_size
        filters = generate_answers.filters_for(name)
        native_cmd = [str(bench_exe), "answer", str(path)]
        for f in filters:
            native_cmd += ["--filter", f]
        host_cmd = [sys.executable, str(ROOT / "bench" / "host_stack.py"), str(path), *filters]
        # Same work, same output: checked once per input before timing (the
        # host stack is skipped where it would take minutes; the smaller
        # inputs of the same generator have been checked by then).
        print(f"== {name} ({size / MB:.1f} MB), filters {filters}", flush=True)
        if size <= 20 * MB:
            native_out, host_out = scratch / "native.txt", scratch / "host.txt"
            with open(native_out, "wb") as o:
                n = measure(native_cmd, stdout=o)
            with open(host_out, "wb") as o:
                h = measure(host_cmd, stdout=o)
            same = n.status == 0 and h.status == 0 and native_out.read_bytes() == host_out.read_bytes()
            checked = "identical output" if same else "OUTPUT DIFFERS"
            if not same:
                print(f"  native and host output differ (status {n.status}/{h.status}): {n.stderr[-300:]}",
                      flush=True)
        else:
            checked = "not compared (size)"
        series = [Series("native core", native_cmd, runs)]
        for label, earlier in before:
            series.append(Series(f"native core ({label})", [str(earlier / "bin" / "quillon_bench"), *native_cmd[1:]],
                                 runs))
        series.append(Series("host stack", host_cmd, host_runs_for(name, size)))
        if jq:
            series.append(Series("jq .", [jq, ".", str(path)], runs if size < 50 * MB else max(3, runs - 2),
                                 note="no filter: decodes and prints the whole answer"))
        run_interleaved(series)
        results.append({"name": name, "size": size, "filters": filters, "series": series, "checked": checked})
    shutil.rmtree(scratch, ignore_errors=True)
    return results

def answer_tables(results):
    lines = ["## 1. Decode + filter + print of one answer", "",
             "Wall and CPU (user + system) time of the whole process, median of the runs; MB/s is answer size over "
             "median wall time; peak RSS is the process's maximum resident set. Output goes to /dev/null. "
             "Ratios are the other contender's median over the native core's (higher: native faster).", "",
             "| answer | contender | runs | wall s | CPU s | MB/s | peak RSS MB | RSS / answer | x wall | x CPU |",
             "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    splits = ["", "Phase split (median seconds, in-process clocks):", "",
              "| answer | contender | read | decode | filter | print | output MB |", "|---|---|---:|---:|---:|---:|---:|"]
    notes = []
    for r in results:
        size_mb = r["size"] / MB
        native = r["series"][0]
        for s in r["series"]:
            if not s.ok():
                lines.append(f"| {r['name']} ({size_mb:.1f} MB) | {s.name} | {len(s.samples)} | failed: "
                             f"{(s.failure or 'no runs')[:80]} | | | | | | |")
                continue
            wall, cpu = s.wall(), s.cpu()
            xw = ratio(wall, native.wall()) if native.ok() and s is not native else None
            xc = ratio(cpu, native.cpu()) if native.ok() and s is not native else None
            lines.append(f"| {r['name']} ({size_mb:.1f} MB) | {s.name} | {len(s.samples)} | {fmt(wall)} | {fmt(cpu)} | "
                         f"{size_mb / wall:.1f} | {s.rss_mb():.1f} | {s.rss_mb() / size_mb:.2f} | "
                         f"{fmt(xw, 1) if xw else '-'} | {fmt(xc, 1) if xc else '-'} |")
            ph = s.phases()
            if ph:
                out_mb = f"{ph['bytes_out'] / MB:.1f}" if "bytes_out" in ph else ""
                splits.append(f"| {r['name']} | {s.name} | {fmt(ph.get('read'))} | {fmt(ph.get('decode'))} | "
                              f"{fmt(ph.get('filter'))} | {fmt(ph.get('print'))} | {out_mb} |")
        notes.append(f"- {r['name']}: filters {r['filters']}; native vs host output: {r['checked']}.")
    return lines + splits + ["", *notes, "- `jq .` decodes and prints the whole answer (no filter): the issue's "
                             "reference point, not the same work."]
