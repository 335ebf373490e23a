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


def count(value, peer=None):
    """Instructions in millions, with the ratio to a peer's."""
    return f"{value / 1e6:.1f} M" + (f" ({value / peer:.2f})" if peer else "")


def timings(tables, medians, programs, peer):
    return "\n\n".join(f"{label(z)}:\n\n{t}\n\nMedians against `{peer}`: " + ", ".join(
        f"`{n}` {medians[n, z] / medians[peer, z]:.2f}" for n in programs if n != peer) + "."
        for z, t in tables.items())


def phase_rows(phases, columns):
    """phases: by column, [(phase, instructions)]; rows by the first's phases."""
    totals = [sum(i for _, i in phases[c]) for c in columns]
    rows = [[p] + [cell for c, t in zip(columns, totals) for cell in
                   ((f"{dict(phases[c])[p] / 1e3:,.0f} k", f"{dict(phases[c])[p] / t:.1%}")
                    if p in dict(phases[c]) else ("-", "-"))]
            for p, _ in phases[columns[0]]]
    return rows + [["whole run"] + [cell for t in totals for cell in (f"{t / 1e3:,.0f} k", "100%")]]


def shapes(peaks, sizes):
    """Per shape and size: dolvin's peak (the C allocator's, the plain C
    steps'), MiB, and dolvin's peak as a share of the bound at its closest;
    then which peaks grow faster than their documents."""
    def mib(kib):
        return f"{kib / 1024:.1f}"
    rows = [[f"`{s}`"] + [f"{mib(peaks[s, z, 'dolvin'])} ({mib(peaks[s, z, C])}, {mib(peaks[s, z, 'plain C'])})"
                          for z in sizes] + [f"{worst(peaks, sizes, [s])[0]:.2f}"] for s in SHAPES]
    text = table(["Shape"] + [label(z) for z in sizes] + ["share of the bound"], rows)
    if len(sizes) < 3:
        return text
    faster = [", ".join(f"`{s}`" for s in faster_than_input(peaks, sizes, n)) or "no shape"
              for n in ("dolvin", "plain C")]
    return text + (f"\n\nFrom {label(sizes[-2])} to {label(sizes[-1])} the peak grows by more per byte "
                   f"of document than from {label(sizes[-3])} to {label(sizes[-2])} (by a fifth and 1 MiB) "
                   f"for dolvin on {faster[0]}; for the plain C steps on {faster[1]}.")


def versions():
    model = re.search(r"Model name:\s*(.*)", run("lscpu"))
    commit = run("git rev-parse --short HEAD").strip()
    if run("git status --porcelain -- . ':!docs/performance.*'").strip():
        commit += " with uncommitted changes"
    version = "dpkg-query -W -f='${Version}' "
    rows = [["CPU, kernel", f"{model.group(1) if model else platform.machine()}, {os.cpu_count()} cores, "
             f"Linux {platform.release()}"],
            ["dolvin", f"commit {commit}, `dolvin-sandbox`, RelWithDebInfo"],
            ["libxml2", f"build machine {run(version + 'libxml2')}; panel: the same source, static, with "
             "its `xmllint` (`scripts/panel-sysroot`)"],
            ["Emulator", run("qemu-ppc --version").splitlines()[0]],
            ["xmlstarlet, hyperfine", f"{run('xmlstarlet --version').splitlines()[0]}, "
             f"{run('hyperfine --version').split()[-1]}"]]
    return run(version + "libmimalloc2.0").split("+")[0], table(["Machine and versions", ""], rows)


def document(bench, m, goals, started, load, out, quick):
    sizes, small, big = bench.sizes, bench.sizes[0], bench.sizes[-1]
    mimalloc, machine = versions()
    minutes = (datetime.datetime.now(datetime.timezone.utc) - started).seconds // 60
    how = (f" --before {bench.before.split()[-1]}" if bench.before else "") + (" --quick" if quick else "")
    averages = [" / ".join(f"{x:.2f}" for x in a) for a in load]

    def guest(n, z):
        return m.guest[n, z][0]

    def maps(name):
        return sum(m.calls[name][:3])

    counted = [[n] + [count(m.counted[n, z], m.counted["xmlstarlet ed", z]) for z in sizes[:2]]
               for n in bench.host if (n, small) in m.counted]
    phases = {n: p for (n, z), (_, p) in m.guest.items() if p}
    refs = m.references
    stripped = m.stripped
    library = MIMALLOC_LIBRARY.resolve().stat().st_size if MIMALLOC_LIBRARY.exists() else 0
    designs = [[f"`{n}`", f"{m.host[n, big] / m.host['xmlstarlet ed', big]:.2f}",
                f"{m.counted[n, small] / m.counted['xmlstarlet ed', small]:.2f}"]
               + [f"{guest(n, z) / guest('plain C', z):.2f}" for z in sizes]
               + [f"{stripped['host' + b]:,}", f"{stripped['panel' + b]:,}"] for n, b in (("dolvin", ""), (C, "-libc"))]
    xmllint = m.panel_get.get("xmllint --noout")
    return f"""# Performance

Measured by `bench/run{how}` on {started:%Y-%m-%d %H:%M} UTC in {minutes} min{
' (smoke run: tiny documents, too few runs to mean anything)' if bench.smoke else ''}.
Every ratio is to a peer measured in the same run. Wall times are medians,
noisy on a busy machine: the load average (1, 5, 15 minutes) was
{averages[0]} at the start and {averages[1]} at the end. Instruction
counts are not noisy.

{machine}

## Goals

{table(["Goal", "Measured", ""], goals)}

![Set: wall time and guest instructions against document size]({out.with_suffix('.png').name})

## What was measured

- `dolvin`: `dolvin-sandbox --set 2` as shipped, on mimalloc {mimalloc}: it
  also rewrites the settings file, writes `NVM.xml.ori`, flushes the new
  files to storage and rotates them. `{C}`: the same built with
  `-DDOLVIN_MIMALLOC=OFF`, on glibc's allocator natively and musl's default
  one (mallocng) on the panel.{f' `{bench.before}`: that commit, built as it was.' if bench.before else ''}
- `plain C`: `bench/plain-set.c`, the NVM steps alone with libxml2 (parse,
  save the copy as loaded, XPath, set, save); on the panel built with the
  same toolchain and static libxml2, on musl's default allocator.
- `xmlstarlet ed -u {XPATH} -v 2 NVM.xml > out.xml`, what a script would run;
  with `-P` its output is byte for byte dolvin's (`bench/run` checks every
  program's). The documents come from `bench/make-nvm`.
- Guest instructions, counted by the emulator plugin
  `bench/guest-instructions.c`, measure the work of a real e500 core;
  emulation runs system calls and page faults at native speed, so panel
  wall times understate what allocation and system calls cost there.
- The timing tables are hyperfine's own (`--export-markdown`, Relative to
  the fastest); medians and goals come from its JSON export of that run.

## Set on the build machine

{timings(m.host_tables, m.host, bench.host, "xmlstarlet ed")}

Instructions of a set (callgrind; ratio to `xmlstarlet ed`):

{table(["Program"] + [label(z) for z in sizes[:2]], counted)}

## Set on the panel program, under qemu-ppc -cpu e500v2

{timings(m.panel_tables, m.panel, bench.panel, "plain C")}

Guest instructions of one set (ratio to the plain C steps):

{table(["Program"] + [label(z) for z in sizes], [[n] + [count(guest(n, z), guest("plain C", z)) for z in sizes] for n in bench.panel])}

System calls of the guest in one set, {label(big)} (`qemu-ppc -strace`;
`mmap` counts `mmap2`, `write` counts `writev`):

{table(["Program"] + SYSCALLS, [[n] + c for n, c in m.calls.items()])}

## Where a set's guest instructions go, {label(small)}

A phase starts where the program first reaches its function after the
phase before (`SET_PHASES` in `bench/report.py`; a function that `nm` does
not find joins its phase to the one before): `main`, `ProcessCmdLine`,
`PerformSetRequest`, `SetJOVAccelNVM`, `xmlXPathNewContext`, `xmlSaveToIO`,
the first `fsync`, `WriteOriginalCopy`, `xmlFreeDoc`, `xmlCleanupParser`.

{table(["Phase", "dolvin", "share", C, "share"], phase_rows(phases, ["dolvin", C]))}

The plain C steps, from `main`, `xmlReadFile`, `xmlSaveFileEnc`,
`xmlXPathNewContext`, `xmlSaveFileEnc` again, `xmlFreeDoc`, `xmlCleanupParser`:

{table(["Phase", "plain C", "share"], phase_rows(phases, ["plain C"]))}

## Get

On the build machine, without a shell:

{m.get_table}

Median against `xmllint --noout`: {m.get["dolvin --get"] / m.get["xmllint --noout"]:.2f}.
On the panel, guest instructions on the same panel configuration, against
the `xmllint` of the panel's libxml2:

{table(["Command", "guest instructions", "ratio"], [[n, f"{c / 1e3:,.0f} k", f"{c / xmllint:.2f}" if xmllint else "-"] for n, c in m.panel_get.items()])}

## Peak memory by document shape

Peak resident memory of `--set 2` on the shapes of `bench/make-nvm --list`
(its source describes each). Each cell: dolvin's peak in MiB (`{C}`,
the plain C steps). The bound is 1.1 times the plain C steps' peak and
4 MiB; the last column is dolvin's peak as a share of it, where closest.

On the build machine:

{shapes(m.shapes["host"], m.shape_sizes["host"])}

On the panel program under qemu-ppc (the emulator's own memory included):

{shapes(m.shapes["panel"], m.shape_sizes["panel"])}

{REFERENCES} references to a 13-character internal entity, in the `levels`
attribute of a panel configuration and in the sensitivity value of an NVM
document of 15 KB each (inside the entity budget of `xml/EntityExpansion.cpp`),
peak in MiB:

{table(["Run"] + [f"{w}, {n}" for w in refs for n in PROGRAMS[:2]],
       [[what] + [f"{refs[w][what, n] / 1024:.1f}" for w in refs for n in PROGRAMS[:2]]
        for what, n in refs["build machine"] if n == "dolvin"])}

## The allocator

The XML library makes a block for every node, attribute and string and
frees them all at the end, so the allocator is a large part of a set.
Set on the {label(big)} document (wall, ratio to `xmlstarlet ed`),
instructions at {label(small)} (callgrind, ratio to `xmlstarlet ed`), guest
instructions (ratio to the plain C steps on musl's default allocator), and
the stripped programs in bytes:

{table(["Design", f"set, {label(big)}", f"instructions, {label(small)}"] + [f"panel, {label(z)}" for z in sizes] + ["size, build machine", "size, panel"], designs)}

At {label(big)} on the panel, musl's default allocator made {maps(C)} calls of
`mmap`, `munmap` and `madvise`, mimalloc {maps("dolvin")}: it takes memory
from the system in large segments and keeps it. It adds
{stripped["panel"] - stripped["panel-libc"]:,} bytes to the panel program; natively it is Debian's shared
library ({library:,} bytes besides the program).

Measured by hand before, not by `bench/run`: musl's older allocator
(oldmalloc: objects built from musl's source `--with-malloc=oldmalloc`,
linked into the panel program) executed 0.95, 0.94 and 0.94 times the plain
C steps' guest instructions at 100 KB, 1 MB and 10 MB, where musl's default
allocator executed 0.77 and mimalloc 0.66 to 0.67: slower than the default,
and not shipped. The program's own XML arena, removed in 3463cc7, executed
0.61 to 0.63; mimalloc comes within a few points of it with none of its code.
"""
