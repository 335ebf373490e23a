"""Peak memory of a set by the shape of the NVM document (bench/make-nvm
--list) and its size, for dolvin, dolvin on the C library's allocator and
the plain C steps; and of the entity references whose substituted text once
grew with the square of their count: a panel configuration and an NVM
document of 15 KB."""

import sys
from pathlib import Path

from measure import peak_kib, run

PROGRAMS = ["dolvin", "dolvin, C allocator", "plain C"]
KB, MB = 1 << 10, 1 << 20
REFERENCES = 4999
ENTITY = '<!DOCTYPE {root} [<!ENTITY s "0123456789abc">]>\n'


def bound_kib(peer):
    """The bound on dolvin's peak: 1.1 times its peer's and 4 MiB."""
    return 1.1 * peer + 4096


SHAPES = run("bench/make-nvm --list").split()


def shape_peaks(bench, programs, sizes):
    """Peak KiB of each of PROGRAMS on each shape and size."""
    programs = {n: c for n, c in programs.items() if n in PROGRAMS}
    peaks = {}
    for size in sizes:
        print(f"bench: shapes, {size // KB} KB", file=sys.stderr)
        for shape in SHAPES:
            doc = bench.work / f"shape-{shape}-{size}.xml"
            run(f"bench/make-nvm {size} {shape} >{doc}")
            restore = f"cp {doc} {bench.nvm}/NVM.xml"
            run(restore)
            run(programs["dolvin"])  # the set succeeds: its status is 0
            for name, command in programs.items():
                peaks[shape, size, name] = peak_kib(command, restore)
            doc.unlink()
    return peaks


def worst(peaks, sizes, shapes=SHAPES):
    """dolvin's peak against the bound where it comes closest: (share of the
    bound, shape, size)."""
    return max((peaks[s, z, "dolvin"] / bound_kib(peaks[s, z, "plain C"]), s, z)
               for s in shapes for z in sizes)


def faster_than_input(peaks, sizes, name="dolvin"):
    """The shapes whose peak grows by more per byte of document over the
    last step of sizes than over the step before it (by a fifth and 1 MiB)."""
    if len(sizes) < 3:
        return []
    a, b, c = sizes[-3:]
    return [s for s in SHAPES
            if (peaks[s, c, name] - peaks[s, b, name]) / (c - b)
            > 1.2 * max(peaks[s, b, name] - peaks[s, a, name], 0) / (b - a) + 1024 / (c - b)]


def reference_peaks(bench, programs):
    """Peak KiB of a get on a panel configuration with the references, of a
    set on an NVM document with them, then of both, for dolvin and dolvin on
    the C library's allocator."""
    refs = "&s;" * REFERENCES
    panel = ('<?xml version="1.0"?>\n' + ENTITY.format(root="panelConfig") +
             '<panelConfig><panelHardware><accelCtlr levels="0.0 0.5 0.25 0.125'
             f'{refs}"/></panelHardware></panelConfig>\n')
    nvm = bench.work / "references-nvm.xml"
    nvm.write_text('<?xml version="1.0"?>\n' + ENTITY.format(root="NVM") +
                   "<NVM><UISettings><accelerometerSetting><sensitivity>"
                   f"1{refs}</sensitivity></accelerometerSetting></UISettings></NVM>\n")
    config = bench.tree / "uish/panel_config.xml"
    sample = Path("samples/panel_config.xml").read_text()
    runs = {"get, that panel configuration": (panel, bench.document(bench.sizes[0]), "--get"),
            "set, that NVM document": (sample, nvm, "--set 2"),
            "set, both": (panel, nvm, "--set 2")}
    peaks = {}
    for name in PROGRAMS[:2]:
        for what, (config_text, nvm_doc, request) in runs.items():
            config.write_text(config_text)
            peaks[what, name] = peak_kib(programs[name].replace("--set 2", request),
                                         f"cp {nvm_doc} {bench.nvm}/NVM.xml")
    config.write_text(sample)
    return peaks
