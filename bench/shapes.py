"""Peak memory of a set by the shape of the NVM document (bench/make-nvm
--list) and its size: dolvin, dolvin on the C library's allocator and the
plain C steps, on the build machine and on the panel program. And the
entity references whose substituted text once grew with the square of
their count: a panel configuration and an NVM document of 15 KB."""

import sys
from pathlib import Path

from measure import peak_kib, run

PROGRAMS = ["dolvin", "dolvin, C allocator", "plain C"]
# Measured too where bench/run has it, for the allocators compared.
OTHERS = ["dolvin, mimalloc"]
KB, MB = 1 << 10, 1 << 20
# The bound on dolvin's peak, in KiB: 1.1 times the plain C steps' and 4 MiB.
SLACK_KIB = 4096
REFERENCES = 4999
ENTITY = '<!DOCTYPE {root} [<!ENTITY s "0123456789abc">]>\n'


def bound_kib(plain):
    return 1.1 * plain + SLACK_KIB


def shapes():
    return run("bench/make-nvm --list").split()


def reference_documents(work):
    """The panel configuration and the NVM document with the references."""
    refs = "&s;" * REFERENCES
    panel = work / "references-panel.xml"
    panel.write_text('<?xml version="1.0"?>\n' + ENTITY.format(root="panelConfig") +
                     '<panelConfig><panelHardware><accelCtlr levels="0.0 0.5 0.25 0.125'
                     f'{refs}"/></panelHardware></panelConfig>\n')
    nvm = work / "references-nvm.xml"
    nvm.write_text('<?xml version="1.0"?>\n' + ENTITY.format(root="NVM") +
                   "<NVM><UISettings><accelerometerSetting><sensitivity>"
                   f"1{refs}</sensitivity></accelerometerSetting></UISettings></NVM>\n")
    return panel, nvm


class ShapeBench:
    def __init__(self, bench, smoke):
        self.bench, self.work = bench, bench.work
        self.shapes = shapes()
        self.sizes = [20 * KB] if smoke else [100 * KB, MB, 10 * MB, 50 * MB]
        self.panel_sizes = [20 * KB] if smoke else [100 * KB, MB, 10 * MB]

    def document(self, shape, size):
        doc = self.work / f"shape-{shape}-{size}.xml"
        if not doc.exists():
            run(f"bench/make-nvm {size} {shape} >{doc}")
        return doc

    def measure(self, programs, sizes):
        """Peak KiB of each of PROGRAMS on each shape and size."""
        programs = {n: c for n, c in programs.items() if n in PROGRAMS + OTHERS}
        peaks = {}
        for size in sizes:
            print(f"bench: shapes, {size // KB} KB", file=sys.stderr)
            for shape in self.shapes:
                doc = self.document(shape, size)
                restore = f"cp {doc} {self.bench.nvm}/NVM.xml"
                run(restore)
                run(programs["dolvin"])  # the set succeeds: its status is 0
                for name, command in programs.items():
                    peaks[shape, size, name] = peak_kib(command, restore, 1)
                doc.unlink()
        return peaks

    def measure_references(self, programs):
        """Peak KiB of a get on the panel configuration, and of a set on the
        NVM document, then on both, for dolvin with and without its arena."""
        panel, nvm = reference_documents(self.work)
        tree = self.bench.tree
        config = tree / "uish/panel_config.xml"
        sample = Path("samples/panel_config.xml").read_bytes()
        healthy = self.bench.document(self.bench.sizes[0])
        runs = {"get, that panel configuration": (panel, healthy, "--get"),
                "set, that NVM document": (None, nvm, "--set 2"),
                "set, both": (panel, nvm, "--set 2")}
        peaks = {}
        for name in ("dolvin", "dolvin, C allocator"):
            if name not in programs:
                continue
            for what, (panel_doc, nvm_doc, request) in runs.items():
                config.write_bytes(panel_doc.read_bytes() if panel_doc else sample)
                command = programs[name].replace("--set 2", request)
                peaks[what, name] = peak_kib(command, f"cp {nvm_doc} {self.bench.nvm}/NVM.xml", 1)
        config.write_bytes(sample)
        return peaks


def worst(peaks, sizes, shape_names):
    """dolvin's peak against the bound at the shape and size where it comes
    closest: (share of the bound, shape, size)."""
    return max((peaks[s, z, "dolvin"] / bound_kib(peaks[s, z, "plain C"]), s, z)
               for s in shape_names for z in sizes)
