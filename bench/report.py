"""Measures the programs that bench/run built, judges the goals and writes
the report and its plot. Every set starts from the same NVM.xml, restored
(and synced) before each run without being timed.

    python3 bench/report.py [--smoke | --quick] [--out FILE] BUILD-BENCH-DIR
"""

import argparse
import datetime
import os
import sys
import tempfile
from pathlib import Path
from types import SimpleNamespace

import matplotlib

from measure import (QEMU, XPATH, guest_instructions, hyperfine, instructions, phase_markers, run,
                     syscalls)
from shapes import KB, MB, PROGRAMS, REFERENCES, bound_kib, reference_peaks, shape_peaks, worst
from text import document, label

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

NM = ".cache/panel-toolchain/bin/powerpc-linux-musl-nm"
PANEL_XMLLINT = Path(".cache/panel-sysroot/usr/bin/xmllint")
SIZE_GOAL = 1313856  # the panel program's stripped size when it still read with iostreams
# Where a set's guest instructions go: each phase starts where the first of
# its symbols that the program defines is first reached after the phase
# before it. Library functions come first: our own may be renamed.
SET_PHASES = [("start-up, to main", []), ("library set-up", ["main"]),
              ("command line and thresholds", ["ProcessCmdLine"]),
              ("lock and settings file", ["PerformSetRequest"]),
              ("NVM parse", ["SetJOVAccelNVM"]), ("XPath", ["xmlXPathNewContext"]),
              ("serialisation of the new document", ["xmlSaveToIO", "WriteNewDocument"]),
              ("flushes and rotation", ["fsync", "RotateNvmFiles"]),
              ("the NVM.xml.ori copy", ["WriteOriginalCopy"]),
              ("freeing the document", ["xmlFreeDoc"]),
              ("library clean-up and exit", ["xmlCleanupParser"])]
PLAIN_PHASES = [("start-up, to main", []), ("library set-up", ["main"]),
                ("NVM parse", ["xmlReadFile"]), ("the NVM.xml.ori copy", ["xmlSaveFileEnc"]),
                ("XPath and set", ["xmlXPathNewContext"]),
                ("serialisation of the new document", ["xmlSaveFileEnc"]),
                ("freeing the document", ["xmlFreeDoc"]),
                ("library clean-up and exit", ["xmlCleanupParser"])]


class Bench:
    """The panel tree in the scratch directory, the NVM documents, and the
    programs that bench/run built as shell commands, by name."""

    def __init__(self, builds, smoke, work):
        self.builds, self.smoke, self.work = builds, smoke, work
        self.sizes = [2 * KB, 20 * KB] if smoke else [100 * KB, MB, 10 * MB]
        self.tree = work / "tree"
        self.nvm = self.tree / "usr/ui/qel/nvm/defaults/Default"
        self.config = self.tree / "uish/panel_config.xml"
        for path, sample in [(self.config, "panel_config.xml"),
                             (self.tree / "usr/ui/uish/etc/accel.conf", "accel.conf")]:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(Path("samples", sample).read_bytes())
        self.nvm.mkdir(parents=True, exist_ok=True)
        os.environ["DOLVIN_SANDBOX_ROOT"] = str(self.tree)
        before = builds / "before-revision"
        self.before = f"dolvin {before.read_text().strip()}" if before.exists() else None
        plain = f"plain-set-{{}} {self.nvm}/NVM.xml {work}/plain.ori {work}/plain.new 2"
        xmlstarlet = f"xmlstarlet ed {{}}-u {XPATH} -v 2 {self.nvm}/NVM.xml >{work}/out.xml"

        def programs(where, prefix):
            named = {"dolvin": f"{where}", PROGRAMS[1]: f"{where}-libc", self.before: f"before-{where}"}
            commands = {n: f"{prefix}{builds}/{b}/dolvin-sandbox --set 2 >/dev/null"
                        for n, b in named.items() if n}
            return commands | {"plain C": f"{prefix}{builds}/" + plain.format(where)}

        self.host = programs("host", "") | {"xmlstarlet ed": xmlstarlet.format(""),
                                            "xmlstarlet ed -P": xmlstarlet.format("-P ")}
        self.panel = programs("panel", f"{QEMU} ")
        self.get = {"dolvin --get": f"{builds}/host/dolvin-sandbox --get",
                    "xmllint --noout": f"xmllint --noout {self.config}"}
        self.panel_get = {"dolvin --get": f"{QEMU} {builds}/panel/dolvin-sandbox --get"}
        if PANEL_XMLLINT.exists():
            self.panel_get["xmllint --noout"] = f"{QEMU} {PANEL_XMLLINT} --noout {self.config}"

    def document(self, size):
        doc = self.work / f"nvm-{size}.xml"
        if not doc.exists():
            run(f"bench/make-nvm {size} >{doc}")
        return doc

    def restore(self, size):
        return f"cp {self.document(size)} {self.nvm}/NVM.xml && sync"

    def check_outputs(self, size):
        """Every program does the same work: NVM.xml.ori as loaded, NVM.xml
        as xmlstarlet ed -P writes the changed document."""
        expected = run(f"xmlstarlet ed -P -u {XPATH} -v 2 {self.document(size)}")
        for name, command in (self.host | self.panel).items():
            if not name.startswith("xmlstarlet"):
                run(self.restore(size) + " && " + command)
                written, copy = ((self.work / "plain.new", self.work / "plain.ori") if name == "plain C"
                                 else (self.nvm / "NVM.xml", self.nvm / "NVM.xml.ori"))
                if written.read_text() != expected or copy.read_bytes() != self.document(size).read_bytes():
                    sys.exit(f"bench: {name} wrote other documents for {label(size)}")


def set_times(bench, programs, runs):
    """Medians by (program, size), and hyperfine's table of each size."""
    medians, tables = {}, {}
    for size, count in zip(bench.sizes, runs):
        print(f"bench: set, {label(size)}", file=sys.stderr)
        bench.check_outputs(size)
        timed, tables[size] = hyperfine(programs, count, bench.restore(size), bench.work)
        medians |= {(name, size): median for name, median in timed.items()}
    return medians, tables


def measure(bench, quick):
    m = SimpleNamespace()
    smoke, builds, work = bench.smoke, bench.builds, bench.work
    m.host, m.host_tables = set_times(bench, bench.host, [3] * 2 if smoke else [40, 20, 12])
    m.panel, m.panel_tables = set_times(bench, bench.panel, [2] * 2 if smoke else [10, 8, 6])
    print("bench: guest instructions", file=sys.stderr)
    plugin = builds / "guest-instructions.so"
    phases = {"dolvin": phase_markers(NM, builds / "panel/dolvin-sandbox", SET_PHASES),
              PROGRAMS[1]: phase_markers(NM, builds / "panel-libc/dolvin-sandbox", SET_PHASES),
              "plain C": phase_markers(NM, builds / "plain-set-panel", PLAIN_PHASES)}
    m.guest = {(n, z): guest_instructions(c, bench.restore(z), work, plugin,
                                          phases.get(n) if z == bench.sizes[0] else None)
               for z in bench.sizes for n, c in bench.panel.items()}
    m.panel_get = {n: guest_instructions(c, "true", work, plugin)[0] for n, c in bench.panel_get.items()}
    print("bench: get, system calls, instructions", file=sys.stderr)
    m.get, m.get_table = hyperfine(bench.get, 10 if smoke else 400, None, work, shell=False)
    m.calls = {n: syscalls(c, bench.restore(bench.sizes[-1]), work) for n, c in bench.panel.items()}
    m.counted = {(n, z): instructions(c.replace(" >/dev/null", ""), bench.restore(z), work)
                 for z in bench.sizes[:2] for n, c in bench.host.items() if n != "xmlstarlet ed -P"}
    m.shape_sizes = {"host": [20 * KB] if smoke else [100 * KB, MB, 10 * MB, 50 * MB],
                     "panel": [20 * KB] if smoke else [100 * KB, MB, 10 * MB]}
    if quick:
        m.shape_sizes = {where: sizes[-1:] for where, sizes in m.shape_sizes.items()}
    m.shapes = {"host": shape_peaks(bench, bench.host, m.shape_sizes["host"]),
                "panel": shape_peaks(bench, bench.panel, m.shape_sizes["panel"])}
    m.references = {"build machine": reference_peaks(bench, bench.host),
                    "panel": reference_peaks(bench, bench.panel)}
    m.stripped = dict((n, int(s)) for n, s in map(str.split, (builds / "sizes").read_text().splitlines()))
    return m


def goals(bench, m):
    rows = []

    def goal(text, value, limit, shown=None):
        rows.append([text, shown or f"{value:.3f}", "met" if value <= limit else "**missed**"])

    small, big = bench.sizes[0], bench.sizes[-1]
    for size in bench.sizes:
        limit = 0.75 if size == small else 0.70
        goal(f"panel, {label(size)}: guest instructions of `--set 2` at most {limit:.2f} times the "
             "plain C steps'", m.guest["dolvin", size][0] / m.guest["plain C", size][0], limit)
    for size in (big, small):
        goal(f"build machine, {label(size)}: set at most 1.0 times `xmlstarlet ed` (wall, median)",
             m.host["dolvin", size] / m.host["xmlstarlet ed", size], 1.0)
    goal("build machine: `--get` at most 1.0 times `xmllint --noout` (wall, median)",
         m.get["dolvin --get"] / m.get["xmllint --noout"], 1.0)
    if "xmllint --noout" in m.panel_get:
        goal("panel: `--get` at most 1.0 times `xmllint --noout` built for the panel (guest instructions)",
             m.panel_get["dolvin --get"] / m.panel_get["xmllint --noout"], 1.0)
    goal(f"panel program stripped at most {SIZE_GOAL:,} bytes", m.stripped["panel"], SIZE_GOAL,
         f"{m.stripped['panel']:,} bytes")
    for where in ("host", "panel"):
        share, shape, size = worst(m.shapes[where], m.shape_sizes[where])
        sizes = m.shape_sizes[where]
        span = label(sizes[0]) + (f" to {label(sizes[-1])}" if len(sizes) > 1 else "")
        goal(f"{'build machine' if where == 'host' else where}, every shape, {span}: peak at most 1.1 "
             "times the plain C steps' and 4 MiB", share, 1.0,
             f"{share:.3f} of that at most (`{shape}`, {label(size)})")
    for where, peaks in m.references.items():
        share = max(peaks[w, "dolvin"] / bound_kib(peaks[w, PROGRAMS[1]]) for w, n in peaks if n == "dolvin")
        goal(f"{where}, {REFERENCES} entity references: peak at most 1.1 times `{PROGRAMS[1]}`'s "
             "and 4 MiB", share, 1.0, f"{share:.3f} of that at most")
    if bench.before:
        def maps(name):
            return sum(m.calls[name][:3])
        goal(f"panel, {label(big)}: mmap, munmap and madvise calls at most a tenth of {bench.before}'s",
             maps("dolvin") / maps(bench.before), 0.1, f"{maps('dolvin')} / {maps(bench.before)}")
    return rows


def plot(bench, m, path):
    figure, axes = plt.subplots(1, 2, figsize=(11, 4.2))
    for axis, programs, value, title, unit in [
            (axes[0], bench.host, lambda n, z: m.host[n, z] * 1000, "Build machine (x86-64)",
             "set, wall time median (ms)"),
            (axes[1], bench.panel, lambda n, z: m.guest[n, z][0] / 1e6,
             "Panel program under qemu-ppc -cpu e500v2", "set, guest instructions (millions)")]:
        for name in programs:
            axis.plot([z / MB for z in bench.sizes], [value(name, z) for z in bench.sizes], marker="o",
                      label=name)
        axis.set(xscale="log", yscale="log", title=title, xlabel="NVM document (MB)", ylabel=unit)
        axis.grid(True, which="both", alpha=0.3)
        axis.legend(fontsize=8)
    figure.tight_layout()
    figure.savefig(path, dpi=90)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("builds", type=Path)
    options = parser.parse_args()
    started = datetime.datetime.now(datetime.timezone.utc)
    load = [os.getloadavg()]
    with tempfile.TemporaryDirectory(prefix="dolvin-bench-") as scratch:
        work = Path(scratch)
        out = Path(options.out or (work / "performance.md" if options.smoke else "docs/performance.md"))
        bench = Bench(options.builds, options.smoke, work)
        m = measure(bench, options.quick)
        load.append(os.getloadavg())
        report = document(bench, m, goals(bench, m), started, load, out, options.quick)
        out.parent.mkdir(parents=True, exist_ok=True)
        plot(bench, m, out.with_suffix(".png"))
        out.write_text(report)
        if options.smoke:
            print(report)
        print(f"bench: wrote {out} and {out.with_suffix('.png')}", file=sys.stderr)


if __name__ == "__main__":
    main()
