"""The report's goals and sections on memory: peak by document shape, the
entity references, and the allocators compared."""

from dataclasses import dataclass

from setbench import label
from shapes import PROGRAMS, REFERENCES, bound_kib, worst
from tables import ms, ratio, table, verdict

MIB = 1024


@dataclass
class Memory:
    goals: list
    sections: str
    mimalloc: str


def mib(kib):
    return f"{kib / MIB:.1f}" if kib is not None else "-"


def shape_rows(peaks, shapes, sizes):
    """Per shape, per size: dolvin's peak (that of the C allocator, that of
    the plain C steps), in MiB; then dolvin's peak as a share of the bound
    where it comes closest."""
    rows = []
    for shape in shapes:
        cells = [f"{mib(peaks[shape, z, 'dolvin'])} ({mib(peaks.get((shape, z, PROGRAMS[1])))}, "
                 f"{mib(peaks[shape, z, 'plain C'])})" for z in sizes]
        share = worst(peaks, sizes, [shape])[0]
        rows.append([f"`{shape}`"] + cells + [f"{share:.2f}"])
    return rows


def memory_goals(shapes, host_peaks, panel_peaks, references):
    goals = []
    for where, (peaks, sizes) in (("build machine", host_peaks), ("panel", panel_peaks)):
        share, shape, size = worst(peaks, sizes, shapes)
        goals.append([f"{where}, every shape, {label(sizes[0])} to {label(sizes[-1])}: peak at most "
                      "1.1 times the plain C steps' and 4 MiB",
                      f"{share:.2f} of that at most (`{shape}`, {label(size)})", verdict(share, 1.0)])
    for where, peaks in references.items():
        if not any(name == PROGRAMS[1] for _, name in peaks):
            continue
        share = max(peaks[what, "dolvin"] / bound_kib(peaks[what, PROGRAMS[1]])
                    for what, name in peaks if name == "dolvin")
        goals.append([f"{where}, {REFERENCES} entity references: peak at most 1.1 times the C "
                      "allocator's and 4 MiB", f"{share:.2f} of that at most", verdict(share, 1.0)])
    return goals


def comparison_rows(designs, host, counted, guest, host_shapes, sizes, big, mid):
    """designs: name -> (host program, panel program, host size, panel size)."""
    shapes = sorted({s for s, _, _ in host_shapes})
    rows = []
    for name, (host_name, panel_name, host_size, panel_size) in designs.items():
        shares = [host_shapes[s, z, host_name] / bound_kib(host_shapes[s, z, "plain C"])
                  for s in shapes for z in sizes if (s, z, host_name) in host_shapes]
        rows.append([
            name,
            f"{ms(host[host_name, big]['wall'])} ({ratio(host[host_name, big]['wall'], host['xmlstarlet ed', big]['wall'])})",
            f"{counted[host_name] / 1e6:.1f} M" if host_name in counted else "-",
            ratio(guest[panel_name][0], guest["plain C"][0]) if panel_name in guest else "-",
            f"{mib(host[host_name, big]['peak'])} MiB",
            f"{max(shares):.2f}" if shares else "-",
            f"{host_size:,}", f"{panel_size:,}" if panel_size else "-"])
    return rows


def memory_report(bench, shaped, host, counted, guest, sizes_of, mimalloc_version):
    """shaped: the ShapeBench with .host and .panel peaks and .references;
    sizes_of: program name -> (stripped host size, stripped panel size)."""
    big, mid = bench.sizes[-1], bench.sizes[-2]
    shapes = shaped.shapes
    host_peaks, panel_peaks = (shaped.host, shaped.sizes), (shaped.panel, shaped.panel_sizes)
    goals = memory_goals(shapes, host_peaks, panel_peaks, shaped.references)
    columns = ["Shape"] + [label(z) for z in shaped.sizes] + ["share of the bound"]
    panel_columns = ["Shape"] + [label(z) for z in shaped.panel_sizes] + ["share of the bound"]
    reference_rows = [[what] + [mib(shaped.references[where].get((what, name)))
                                for where in shaped.references for name in PROGRAMS[:2]]
                      for what, name in shaped.references["build machine"] if name == "dolvin"]
    designs = {"the arena (shipped)": ("dolvin", "dolvin") + sizes_of["dolvin"]}
    if PROGRAMS[1] in bench.host:
        designs["the C library's allocator"] = (PROGRAMS[1], PROGRAMS[1]) + sizes_of[PROGRAMS[1]]
    if "dolvin, mimalloc" in bench.host:
        designs[f"mimalloc {mimalloc_version}"] = ("dolvin, mimalloc", None) + sizes_of["dolvin, mimalloc"]
    if bench.before:
        before = f"dolvin {bench.before}"
        designs[f"`{before}`"] = (before, before) + sizes_of[before]
    comparison = comparison_rows(designs, host, counted, guest, shaped.host, shaped.sizes, big, mid)
    sections = f"""
## Peak memory by document shape

Peak resident memory of `--set 2` on NVM documents of other shapes from
`bench/make-nvm SIZE SHAPE`: after the sensitivity element, sections of
processing instructions of 30 KB (`pi-30k`), comments of 5 KB, short
attributes with `&amp;`, `é` and `&#10;`, small processing instructions,
ten namespace declarations per element, CDATA sections, references to an
internal entity in text and in attributes, elements nested 200 deep, long
text, text of character references, a hundred attributes per element.
Each cell: dolvin's peak in MiB (dolvin on the C library's allocator, the
plain C steps). The bound is 1.1 times the plain C steps' peak and 4 MiB;
the last column is dolvin's peak as a share of it, where it comes closest.

On the build machine:

{table(columns, shape_rows(shaped.host, shapes, shaped.sizes))}

On the panel program under qemu-ppc (the emulator's own memory included):

{table(panel_columns, shape_rows(shaped.panel, shapes, shaped.panel_sizes))}

{REFERENCES} references to a 13-character internal entity, in the `levels`
attribute of a panel configuration and in the sensitivity value of an NVM
document of 15 KB each (inside the entity budget of
`common/EntityExpansion.cpp`):

{table(["Run (peak, MiB)"] + [f"{where}, {name}" for where in shaped.references for name in PROGRAMS[:2]], reference_rows)}

## Allocators compared

The XML library's allocation, three ways: the program's arena as shipped
(`common/XmlArena.h`: size classes with free lists, blocks over 64 KiB
apart with the C library's `realloc`, the document left to the arena), the
C library's allocator (`-DDOLVIN_XML_ARENA=OFF`, the document freed node
by node), and mimalloc from Debian in place of the C library's allocator
on the build machine. Set on the {label(big)} document (ratio to
`xmlstarlet ed`), instructions at {label(mid)} (callgrind; guest
instructions on the panel as a ratio to the plain C steps), peak at
{label(big)}, the largest share of the memory bound over every shape and
size on the build machine, and the stripped program (on the build machine
mimalloc adds its shared library).

{table(["Design", "set, build machine", "instructions", "panel, instructions", "peak", "share of the bound", "size, build machine", "size, panel"], comparison)}
"""
    return Memory(goals, sections, mimalloc_version)
