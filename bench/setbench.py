"""The set benchmark: the programs bench/run built, the documents, and the
wall time, CPU time, peak memory and system calls of a set on each."""

import os
import sys
from pathlib import Path

from measure import QEMU, XPATH, hyperfine, peak_kib, run, syscalls

MIMALLOC = "/usr/lib/x86_64-linux-gnu/libmimalloc.so.2"


def label(size):
    return f"{size >> 20} MB" if size >= 1 << 20 else f"{size >> 10} KB"



class Bench:
    def __init__(self, builds, smoke, work):
        self.smoke, self.work = smoke, work
        self.sizes = [2048, 20480] if smoke else [102400, 1 << 20, 10 << 20]
        self.tree = work / "tree"
        self.nvm = self.tree / "usr/ui/qel/nvm/defaults/Default"
        for path, sample in [("uish/panel_config.xml", "panel_config.xml"),
                             ("usr/ui/uish/etc/accel.conf", "accel.conf")]:
            (self.tree / path).parent.mkdir(parents=True, exist_ok=True)
            (self.tree / path).write_bytes(Path("samples", sample).read_bytes())
        self.nvm.mkdir(parents=True, exist_ok=True)
        os.environ["DOLVIN_SANDBOX_ROOT"] = str(self.tree)
        before_file = builds / "before-revision"
        self.before = before_file.read_text().strip() if before_file.exists() else None

        def dolvin(build, emulated=False, preload=None):
            exe = builds / build / "dolvin-sandbox"
            if not exe.exists() or preload and not Path(preload).exists():
                return None
            prefix = f"{QEMU} " if emulated else f"LD_PRELOAD={preload} " if preload else ""
            return f"{prefix}{exe} --set 2 >/dev/null"

        plain = f"{{}} {self.nvm}/NVM.xml {work}/plain.ori {work}/plain.new 2"
        xmlstarlet = f"xmlstarlet ed {{}}-u {XPATH} -v 2 {self.nvm}/NVM.xml >{work}/out.xml"
        before = f"dolvin {self.before}" if self.before else None
        self.host = {"dolvin": dolvin("host"), "dolvin, C allocator": dolvin("host-libc"),
                     "dolvin, mimalloc": dolvin("host-libc", preload=MIMALLOC),
                     before: dolvin("before-host"),
                     "plain C": plain.format(builds / "plain-set-host"),
                     "xmlstarlet ed": xmlstarlet.format(""),
                     "xmlstarlet ed -P": xmlstarlet.format("-P ")}
        self.panel = {"dolvin": dolvin("panel", True),
                      "dolvin, C allocator": dolvin("panel-libc", True),
                      before: dolvin("before-panel", True),
                      "plain C": f"{QEMU} " + plain.format(builds / "plain-set-panel")}
        for programs in (self.host, self.panel):
            for name in [n for n, c in programs.items() if n is None or c is None]:
                del programs[name]
        self.get = {"dolvin --get": f"{builds}/host/dolvin-sandbox --get",
                    "xmllint --noout": f"xmllint --noout {self.tree}/uish/panel_config.xml"}

    def document(self, size):
        doc = self.work / f"nvm-{size}.xml"
        if not doc.exists():
            run(f"bench/make-nvm {size} >{doc}")
        return doc

    def restore(self, size):
        return f"cp {self.document(size)} {self.nvm}/NVM.xml && sync"

    def check_outputs(self, size):
        """Every program does the same work: dolvin writes NVM.xml.ori as
        loaded and NVM.xml as xmlstarlet ed -P writes the changed document."""
        expected = run(f"xmlstarlet ed -P -u {XPATH} -v 2 {self.document(size)}")
        for programs in (self.host, self.panel):
            for name, command in programs.items():
                if name.startswith("xmlstarlet"):
                    continue
                run(self.restore(size))
                run(command)
                plain = name == "plain C"
                written = self.work / "plain.new" if plain else self.nvm / "NVM.xml"
                copy = self.work / "plain.ori" if plain else self.nvm / "NVM.xml.ori"
                if written.read_text() != expected or copy.read_bytes() != self.document(size).read_bytes():
                    sys.exit(f"bench: {name} wrote other documents for {label(size)}")

    def measure(self, programs, runs, rounds, memory_runs):
        results = {}
        for size, count in zip(self.sizes, runs):
            print(f"bench: set, {label(size)}", file=sys.stderr)
            self.check_outputs(size)
            timed = hyperfine(programs, count, self.restore(size), rounds, self.work)
            for name, command in programs.items():
                results[name, size] = {"wall": timed[name][0], "cpu": timed[name][1],
                                       "peak": peak_kib(command, self.restore(size), memory_runs)}
        largest = self.sizes[-1]
        for name, command in programs.items():
            results[name, largest]["calls"] = syscalls(command, self.restore(largest), self.work)
        return results
