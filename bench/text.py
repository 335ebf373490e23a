"""docs/performance.md from what bench/report.py measured."""

import datetime
import os
import platform
import re
from pathlib import Path

from measure import SYSCALLS, XPATH, run
from shapes import PROGRAMS, REFERENCES, SHAPES, faster_than_input, worst

C = PROGRAMS[1]
MIMALLOC_LIBRARY = Path("/usr/lib/x86_64-linux-gnu/libmimalloc.so.2")


def label(size):
    return f"{size >> 20} MB" if size >= 1 << 20 else f"{size >> 10} KB"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return "\n".join(lines + ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows])


def millions(count):
    return f"{count / 1e6:.1f} M"


def thousands(count):
    return f"{count / 1e3:,.0f} k"


def ratios(values, names, peer):
    """'name 0.85, ...': each value of names against the peer's."""
    return ", ".join(f"`{n}` {values(n) / values(peer):.2f}" for n in names if n != peer)


def timing_sections(tables, medians, programs, peer):
    return "\n\n".join(f"{label(z)}:\n\n{t}\n\nMedians against `{peer}`: "
                       f"{ratios(lambda n: medians[n, z], programs, peer)}." for z, t in tables.items())


def phase_rows(phases, columns):
    """phases: by column, [(phase, instructions)]; rows by the first's phases."""
    totals = [sum(i for _, i in phases[c]) for c in columns]
    rows = []
    for phase, _ in phases[columns[0]]:
        row = [phase]
        for column, total in zip(columns, totals):
            count = dict(phases[column]).get(phase)
            row += [thousands(count), f"{count / total:.1%}"] if count is not None else ["-", "-"]
        rows.append(row)
    return rows + [["whole run"] + [c for t in totals for c in (thousands(t), "100%")]]


def shape_rows(peaks, sizes):
    """Per shape and size: dolvin's peak (the C allocator's, the plain C
    steps'), MiB, and dolvin's peak as a share of the bound at its closest."""
    def mib(kib):
        return f"{kib / 1024:.1f}"
    return [[f"`{s}`"] + [f"{mib(peaks[s, z, 'dolvin'])} ({mib(peaks[s, z, C])}, {mib(peaks[s, z, 'plain C'])})"
                          for z in sizes] + [f"{worst(peaks, sizes, [s])[0]:.2f}"]
            for s in SHAPES]


def growth(peaks, sizes):
    if len(sizes) < 3:
        return "Too few sizes to tell whether a peak grows faster than its document."
    faster = {n: faster_than_input(peaks, sizes, n) for n in ("dolvin", "plain C")}
    return (f"From {label(sizes[-2])} to {label(sizes[-1])}, the peak grows by more per byte of document "
            f"than from {label(sizes[-3])} to {label(sizes[-2])} (by a fifth and 1 MiB) for dolvin on "
            f"{', '.join(f'`{s}`' for s in faster['dolvin']) or 'no shape'}, and for the plain C steps on "
            f"{', '.join(f'`{s}`' for s in faster['plain C']) or 'no shape'}.")


def versions():
    model = re.search(r"Model name:\s*(.*)", run("lscpu"))
    commit = run("git rev-parse --short HEAD").strip()
    if run("git status --porcelain -- . ':!docs/performance.*'").strip():
        commit += " with uncommitted changes"
    mimalloc = run("dpkg-query -W -f='${Version}' libmimalloc2.0").split("+")[0]
    libxml2 = run("dpkg-query -W -f='${Version}' libxml2")
    rows = [["CPU", f"{model.group(1) if model else platform.machine()}, {os.cpu_count()} cores"],
            ["Kernel", f"Linux {platform.release()}"],
            ["dolvin", f"commit {commit}, `dolvin-sandbox`, RelWithDebInfo"],
            ["libxml2", f"build machine {libxml2}; panel: the same "
             "source, static, and its `xmllint` (`scripts/panel-sysroot`)"],
            ["mimalloc", f"{mimalloc}: Debian's shared library natively, built from Debian's source into "
             "the panel program"],
            ["Emulator", run("qemu-ppc --version").splitlines()[0]],
            ["xmlstarlet, hyperfine", f"{run('xmlstarlet --version').splitlines()[0]}, "
             f"{run('hyperfine --version').split()[-1]}"]]
    return mimalloc, table(["Machine and versions", ""], rows)


def document(bench, m, goals, started, load, out, quick):
    sizes, small, big = bench.sizes, bench.sizes[0], bench.sizes[-1]
    before = bench.before
    mimalloc, machine = versions()
    minutes = (datetime.datetime.now(datetime.timezone.utc) - started).seconds // 60
    how = (" --before " + before.split()[-1] if before else "") + (" --quick" if quick else "")
    note = " (smoke run: tiny documents, too few runs to mean anything)" if bench.smoke else ""
    averages = [" / ".join(f"{x:.2f}" for x in a) for a in load]

    def guest(n, z):
        return m.guest[n, z][0]

    guest_rows = [[n] + [f"{millions(guest(n, z))} ({guest(n, z) / guest('plain C', z):.2f})" for z in sizes]
                  + [f"{m.guest[n, small][1] / 1e3:.1f} k"] for n in bench.panel]
    counted = [[n] + [f"{millions(m.counted[n, z])} ({m.counted[n, z] / m.counted['xmlstarlet ed', z]:.2f})"
                      for z in sizes[:2]] for n in bench.host if (n, small) in m.counted]
    calls = {w: table(["Program"] + SYSCALLS, [[n] + c for n, c in m.calls[w].items()]) for w in m.calls}
    phases = {n: p for (n, z), (_, _, p) in m.guest.items() if p}
    references = m.references
    reference_rows = [[what] + [f"{references[w][what, n] / 1024:.1f}" for w in references for n in PROGRAMS[:2]]
                      for what, n in references["build machine"] if n == "dolvin"]
    stripped = m.stripped
    library = MIMALLOC_LIBRARY.resolve().stat().st_size if MIMALLOC_LIBRARY.exists() else 0
    designs = []
    for name, build in [("dolvin", ""), (C, "-libc")]:
        designs.append([f"`{name}`", f"{m.host[name, big] / m.host['xmlstarlet ed', big]:.2f}",
                        f"{m.counted[name, small] / m.counted['xmlstarlet ed', small]:.2f}"]
                       + [f"{guest(name, z) / guest('plain C', z):.2f}" for z in sizes]
                       + [f"{stripped['host' + build]:,}", f"{stripped['panel' + build]:,}"])
    def maps(name):
        return sum(m.calls["panel"][name][:3])

    panel_get = [[n, millions(c), f"{c / m.panel_get['xmllint --noout']:.2f}" if "xmllint --noout" in m.panel_get
                  else "-"] for n, c in m.panel_get.items()]
    return f"""# Performance

Measured by `bench/run{how}` on {started:%Y-%m-%d %H:%M} UTC in {minutes} min{note}.
Run it again to refresh this page. Every ratio is to a peer measured in the
same run. Wall times are medians and noisy on a busy machine: the load
average (1, 5 and 15 minutes) was {averages[0]} at the start and
{averages[1]} at the end, on {os.cpu_count()} cores. The instruction counts
are not noisy.

{machine}

## Goals

{table(["Goal", "Measured", ""], goals)}

![Set: wall time and guest instructions against document size]({out.with_suffix('.png').name})

## What was measured

- `dolvin`: `dolvin-sandbox --set 2` as shipped, on mimalloc {mimalloc}; it
  also rewrites the settings file, writes `NVM.xml.ori`, flushes the new
  files to storage and rotates them. `{C}` is the same program built
  with `-DDOLVIN_MIMALLOC=OFF`: glibc's allocator on the build machine,
  musl's default one (mallocng) on the panel.{f'''
  `{before}` is the program as of that commit, built as it was.''' if before else ''}
- `plain C`: `bench/plain-set.c`, the NVM steps alone written as plainly as
  possible with libxml2 (parse, save the copy as loaded, XPath, set, save):
  no settings file, no flush, no rotation. On the panel it is built with
  the same toolchain against the same static libxml2 as dolvin, on musl's
  default allocator.
- `xmlstarlet ed -u {XPATH} -v 2 NVM.xml > out.xml`, what a script would run;
  `-P` keeps the whitespace text nodes as dolvin does, and its output is byte
  for byte what dolvin writes (`bench/run` checks this for every program).
- The documents come from `bench/make-nvm`: the sensitivity element near
  the top, then sections of sibling settings (the shape `settings`; the
  other shapes in [Peak memory by document shape](#peak-memory-by-document-shape)).
- Guest instructions are counted by `bench/guest-instructions.c`, a plugin
  of the emulator: the measure of the work on a real e500 core. Emulation
  runs the guest's instructions slowly but its system calls and page faults
  at native speed, so wall times understate what allocation and system
  calls cost on the panel.
- The timing tables are hyperfine's own (`--export-markdown`): mean ± σ, with
  Relative to the fastest; the medians and goals come from its JSON export
  of the same run.

## Set on the build machine

{timing_sections(m.host_tables, m.host, bench.host, "xmlstarlet ed")}

Instructions of a set (callgrind; ratio to `xmlstarlet ed`):

{table(["Program"] + [label(z) for z in sizes[:2]], counted)}

System calls of one set, {label(big)} (strace):

{calls["host"]}

## Set on the panel program, under qemu-ppc -cpu e500v2

{timing_sections(m.panel_tables, m.panel, bench.panel, "plain C")}

Guest instructions executed in one set (ratio to the plain C steps), and
those translated at {label(small)}, each once: a cost of emulation that a
real core does not have, which falls most on start-up code that the plain C
steps lack (the C++ runtime, the settings file, the panel document).

{table(["Program"] + [label(z) for z in sizes] + [f"translated, {label(small)}"], guest_rows)}

System calls of the guest in one set, {label(big)} (`qemu-ppc -strace`;
`mmap` counts `mmap2`, `write` counts `writev`):

{calls["panel"]}

## Where a set's guest instructions go, {label(small)}

Each phase starts where the program first reaches a function after the
phase before it (`SET_PHASES` in `bench/report.py`, addresses from `nm`):
`main`, `ProcessCmdLine`, `PerformSetRequest`, `SetJOVAccelNVM`,
`xmlXPathNewContext`, `xmlSaveToIO`, the first `fsync`, `WriteOriginalCopy`,
`xmlFreeDoc` and `xmlCleanupParser`. A phase whose function the program
lacks is counted with the one before it.

{table(["Phase", "dolvin", "share", C, "share"], phase_rows(phases, ["dolvin", C]))}

The plain C steps: `main`, `xmlReadFile`, `xmlSaveFileEnc`,
`xmlXPathNewContext`, `xmlSaveFileEnc` again, `xmlFreeDoc`, `xmlCleanupParser`.

{table(["Phase", "plain C", "share"], phase_rows(phases, ["plain C"]))}

## Get

On the build machine, without a shell:

{m.get_table}

Medians against `xmllint --noout`: {ratios(m.get.get, m.get, "xmllint --noout")}.

On the panel program, guest instructions, on the same panel configuration
(`xmllint` of the panel's libxml2, built by `scripts/panel-sysroot`):

{table(["Command", "guest instructions", "ratio to xmllint --noout"], panel_get)}

## Peak memory by document shape

Peak resident memory of `--set 2` on NVM documents of other shapes from
`bench/make-nvm SIZE SHAPE`: after the sensitivity element, sections of
processing instructions of 30 KB (`pi-30k`), comments of 5 KB, short
attributes with `&amp;`, `é` and `&#10;`, small processing instructions,
ten namespace declarations per element, CDATA sections, references to an
internal entity in text and in attributes, elements nested 200 deep, long
text, text of character references, a hundred attributes per element.
Each cell: dolvin's peak in MiB (`{C}`, the plain C steps). The bound
is 1.1 times the plain C steps' peak and 4 MiB; the last column is dolvin's
peak as a share of it, where it comes closest.

On the build machine:

{table(["Shape"] + [label(z) for z in m.shape_sizes["host"]] + ["share of the bound"], shape_rows(m.shapes["host"], m.shape_sizes["host"]))}

{growth(m.shapes["host"], m.shape_sizes["host"])}

On the panel program under qemu-ppc (the emulator's own memory included):

{table(["Shape"] + [label(z) for z in m.shape_sizes["panel"]] + ["share of the bound"], shape_rows(m.shapes["panel"], m.shape_sizes["panel"]))}

{growth(m.shapes["panel"], m.shape_sizes["panel"])}

{REFERENCES} references to a 13-character internal entity, in the `levels`
attribute of a panel configuration and in the sensitivity value of an NVM
document of 15 KB each (inside the entity budget of `xml/EntityExpansion.cpp`),
peak in MiB:

{table(["Run"] + [f"{w}, {n}" for w in references for n in PROGRAMS[:2]], reference_rows)}

## The allocator

The XML library makes a block for every node, attribute and string of the
document, and frees them all at the end: the allocator is a large part of a
set. `dolvin` allocates with mimalloc {mimalloc} (`cmake/Allocator.cmake`),
`{C}` with the C library's allocator. Set on the {label(big)} document
(wall, ratio to `xmlstarlet ed`), instructions at {label(small)}
(callgrind, ratio to `xmlstarlet ed`), guest instructions on the panel
(ratio to the plain C steps, on musl's default allocator), and the stripped
programs in bytes:

{table(["Design", f"set, {label(big)}, build machine", f"instructions, {label(small)}"] + [f"panel, {label(z)}" for z in sizes] + ["size, build machine", "size, panel"], designs)}

At {label(big)} on the panel, musl's default allocator made {maps(C)} calls of
`mmap`, `munmap` and `madvise`, mimalloc {maps("dolvin")}: it takes memory from the
system in large segments and keeps it. It costs the panel program
{stripped["panel"] - stripped["panel-libc"]:,} bytes; on the build machine it is Debian's shared library
({library:,} bytes besides the program).

Measured by hand before this run, not by `bench/run`: musl's older
allocator (oldmalloc, musl's source configured `--with-malloc=oldmalloc`
and its objects linked into the panel program) executed 0.95, 0.94 and 0.94
times the plain C steps' guest instructions at 100 KB, 1 MB and 10 MB,
where musl's default allocator executed 0.77 and mimalloc 0.66 to 0.67:
slower than the default, and not shipped. The program's own XML arena,
removed in 3463cc7, executed 0.61 to 0.63: mimalloc comes within a few
points of it with none of its code.
"""
