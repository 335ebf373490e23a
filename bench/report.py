"""Measures the programs that bench/run built and writes the report and its
plot. Every set starts from the same NVM.xml, restored (and synced) before
each run without being timed; the commands of a table run in one hyperfine
invocation per round, in an order that rotates from round to round.

    python3 bench/report.py [--smoke] [--out FILE] BUILD-BENCH-DIR
"""

import argparse
import datetime
import os
import sys
import tempfile
from pathlib import Path

import matplotlib

from measure import guest_instructions, hyperfine, instructions, run
from setbench import MIMALLOC, Bench
from shapes import ShapeBench
from text import write_report
from text_memory import memory_report

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def plot(bench, host, panel, path):
    figure, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    for axis, results, programs, title in [
            (axes[0], host, bench.host, "Build machine (x86-64)"),
            (axes[1], panel, bench.panel, "Panel program under qemu-ppc -cpu e500v2")]:
        for name in programs:
            axis.plot([s / (1 << 20) for s in bench.sizes],
                      [results[name, s]["wall"] * 1000 for s in bench.sizes], marker="o", label=name)
        axis.set(xscale="log", yscale="log", title=title, xlabel="NVM document (MB)",
                 ylabel="set, wall time median (ms)")
        axis.grid(True, which="both", alpha=0.3)
        axis.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=90)


def program_sizes(builds):
    """Stripped size of each design's program on the build machine and the
    panel (bench/run writes them to BUILDS/sizes); mimalloc adds its library."""
    built = dict(line.split() for line in (builds / "sizes").read_text().splitlines())

    def size(name):
        return int(built[name]) if name in built else 0

    mimalloc = Path(MIMALLOC).resolve()
    return {"dolvin": (size("host"), size("panel")),
            "dolvin, C allocator": (size("host-libc"), size("panel-libc")),
            "dolvin, mimalloc": (size("host-libc") + (mimalloc.stat().st_size if mimalloc.exists() else 0), 0),
            "before": (size("before-host"), size("before-panel"))}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("builds", type=Path)
    options = parser.parse_args()
    started = datetime.datetime.now(datetime.timezone.utc)
    with tempfile.TemporaryDirectory(prefix="dolvin-bench-") as scratch:
        work = Path(scratch)
        out = Path(options.out or (work / "performance.md" if options.smoke else "docs/performance.md"))
        bench = Bench(options.builds, options.smoke, work)
        smoke = options.smoke
        load = os.getloadavg()
        host = bench.measure(bench.host, [4] * 2 if smoke else [40, 20, 12], 1 if smoke else 2,
                             1 if smoke else 3)
        panel = bench.measure(bench.panel, [2] * 2 if smoke else [10, 8, 6], 1 if smoke else 2,
                              1 if smoke else 3)
        shaped = ShapeBench(bench, smoke)
        shaped.host = shaped.measure(bench.host, shaped.sizes)
        shaped.panel = shaped.measure(bench.panel, shaped.panel_sizes)
        shaped.references = {"build machine": shaped.measure_references(bench.host),
                             "panel": shaped.measure_references(bench.panel)}
        print("bench: get, instructions", file=sys.stderr)
        get = hyperfine(bench.get, 10 if smoke else 400, None, 1, work, shell=False)
        # callgrind has an allocator of its own: mimalloc is not counted.
        counted = {name: instructions(bench.host[name].replace(" >/dev/null", ""),
                                      bench.restore(bench.sizes[-2]), work)
                   for name in bench.host
                   if name.startswith("dolvin") and "mimalloc" not in name or name.endswith("-P")}
        guest = {size: {name: guest_instructions(command, bench.restore(size), work,
                                                 options.builds / "guest-instructions.so")
                        for name, command in bench.panel.items()}
                 for size in bench.sizes[-2:]}
        sizes = program_sizes(options.builds)
        if bench.before:
            sizes[f"dolvin {bench.before}"] = sizes["before"]
        version = run("dpkg-query -W -f='${Version}' libmimalloc2.0 2>/dev/null || true")
        memory = memory_report(bench, shaped, host, counted, guest[bench.sizes[-2]], sizes,
                               version.split("+")[0].split("-")[0])
        report = write_report(bench, host, panel, get, counted, guest, started, load, out, memory)
        out.parent.mkdir(parents=True, exist_ok=True)
        plot(bench, host, panel, out.with_suffix(".png"))
        out.write_text(report)
        if smoke:
            print(report)
        print(f"bench: wrote {out} and {out.with_suffix('.png')}", file=sys.stderr)


if __name__ == "__main__":
    main()
