"""The report: docs/performance.md from what bench/run measured."""

import datetime
import os
import platform
import re
import subprocess

from measure import SYSCALLS, XPATH, run
from setbench import label
from tables import ms, ratio, table, verdict

def write_report(bench, host, panel, get, counted, guest, started, load, out, memory):
    """memory: the goals and the sections of text_memory.py."""
    big, mid = bench.sizes[-1], bench.sizes[-2]
    before = f"dolvin {bench.before}" if bench.before else None

    def time_rows(results, programs, peer):
        return [[name] + [f"{ms(results[name, s]['wall'])} ({ratio(results[name, s]['wall'], results[peer, s]['wall'])})"
                          for s in bench.sizes] for name in programs]

    def cpu_rows(results, programs, peer):
        user = {n: results[n, big]["cpu"][0] for n in programs}
        return [[n, ms(user[n]), ratio(user[n], user[peer]), ms(results[n, big]["cpu"][1])]
                for n in programs]

    def memory_rows(results, programs):
        return [[name] + [f"{results[name, s]['peak'] / 1024:.1f} MiB" for s in bench.sizes]
                for name in programs]

    def call_rows(results, programs):
        return [[name] + [results[name, big]["calls"][c] for c in SYSCALLS] for name in programs]

    sizes = [label(s) for s in bench.sizes]

    def mapping(name):
        return sum(panel[name, big]["calls"][c] for c in ("mmap", "munmap", "madvise"))

    def executed(name, size):
        return guest[size][name][0]

    goals = [
        [f"panel, {label(s)}: guest instructions of a set at most 0.7 times the plain C steps'",
         ratio(executed("dolvin", s), executed("plain C", s)),
         verdict(executed("dolvin", s) / executed("plain C", s), 0.7)] for s in (mid, big)]
    if before:
        goals.append([f"panel, {label(big)}: mmap, munmap and madvise calls at most a tenth of {before}'s",
                      f"{mapping('dolvin')} / {mapping(before)}",
                      verdict(mapping("dolvin"), mapping(before) / 10)])
    goals += [
        [f"build machine, {label(big)}: set at most 0.8 times `xmlstarlet ed`",
         ratio(host["dolvin", big]["wall"], host["xmlstarlet ed", big]["wall"]),
         verdict(host["dolvin", big]["wall"] / host["xmlstarlet ed", big]["wall"], 0.8)],
        [f"build machine, {label(big)}: peak memory at most 1.1 times `xmlstarlet ed -P`",
         ratio(host["dolvin", big]["peak"], host["xmlstarlet ed -P", big]["peak"]),
         verdict(host["dolvin", big]["peak"] / host["xmlstarlet ed -P", big]["peak"], 1.1)],
        ["build machine: `--get` at most 1.0 times `xmllint --noout`",
         ratio(get["dolvin --get"][0], get["xmllint --noout"][0]),
         verdict(get["dolvin --get"][0] / get["xmllint --noout"][0], 1.0)]]
    goals += memory.goals

    levers = []
    if before and "dolvin, C allocator" in bench.host:
        for where, results in (("build machine", host), ("panel", panel)):
            whole = results[before, big]["wall"]
            one = results["dolvin, C allocator", big]["wall"]
            last = results["dolvin", big]["wall"]
            levers.append([f"{where}, {label(big)}, wall time", ms(whole),
                           f"{ms(one)} ({(whole - one) / whole:.0%})",
                           f"{ms(last)} ({(one - last) / whole:.0%})"])
        whole, one, last = counted[before], counted["dolvin, C allocator"], counted["dolvin"]
        levers.append([f"build machine, {label(mid)}, instructions", f"{whole / 1e6:.1f} M",
                       f"{one / 1e6:.1f} M ({(whole - one) / whole:.0%})",
                       f"{last / 1e6:.1f} M ({(one - last) / whole:.0%})"])

    cpu = subprocess.run("lscpu", capture_output=True, text=True).stdout
    model = re.search(r"Model name:\s*(.*)", cpu)
    commit = run("git rev-parse --short HEAD").strip()
    if run("git status --porcelain -- . ':!docs/performance.*'").strip():
        commit += " with uncommitted changes"
    elapsed = datetime.datetime.now(datetime.timezone.utc) - started
    text = f"""# Performance

Measured by `bench/run{' --before ' + bench.before if before else ''}` on {started:%Y-%m-%d %H:%M} UTC in {elapsed.seconds // 60} min{' (smoke run: tiny documents, too few runs to mean anything)' if bench.smoke else ''}.
Run it again to refresh this page. Wall times are medians and noisy on a busy
machine (load average {load[0]:.2f} at the start, {os.cpu_count()} cores); the instruction counts are not.

| Machine and versions | |
|---|---|
| CPU | {model.group(1) if model else platform.machine()}, {os.cpu_count()} cores |
| Kernel | Linux {platform.release()} |
| dolvin | commit {commit}, `dolvin-sandbox`, RelWithDebInfo |
| libxml2 | build machine {run("dpkg-query -W -f='${Version}' libxml2")}; panel: the same source, static (`scripts/panel-sysroot`) |
| Emulator | {run("qemu-ppc --version").splitlines()[0]} |
| xmlstarlet, hyperfine | {run("xmlstarlet --version").splitlines()[0]}, {run("hyperfine --version").split()[-1]} |

## Goals

{table(["Goal", "Measured", ""], goals)}

![Set: wall time against document size]({out.with_suffix('.png').name})

## What was measured

- `dolvin`: `dolvin-sandbox --set 2`, which also rewrites the settings file,
  writes `NVM.xml.ori`, flushes the new files to storage and rotates them;
  `dolvin, C allocator` is the same program built with
  `-DDOLVIN_XML_ARENA=OFF`, the XML library on the C library's allocator;
  `dolvin, mimalloc` is that build run with mimalloc {memory.mimalloc} (Debian's
  `libmimalloc2.0`) in place of the C library's allocator (`LD_PRELOAD`).{f'''
  `{before}` is the program as of that commit.''' if before else ''}
- `plain C`: `bench/plain-set.c`, the NVM steps alone written as plainly as
  possible with libxml2 (parse, save the copy as loaded, XPath, set, save):
  no settings file, no flush, no rotation. On the panel it is built with
  the same toolchain against the same static libxml2 as dolvin.
- `xmlstarlet ed -u {XPATH} -v 2 NVM.xml > out.xml`, what a script would run;
  `-P` keeps the whitespace text nodes as dolvin does, and its output is byte
  for byte what dolvin writes (`bench/run` checks this for every program).
- The documents come from `bench/make-nvm`: the sensitivity element near
  the top, then sections of sibling settings (the shape `settings`; the
  other shapes in [Peak memory by document shape](#peak-memory-by-document-shape)).
- Emulation runs the guest's instructions slowly but its system calls and
  page faults at native speed, so it understates what allocation and system
  calls cost on a real e500 core.

## Set on the build machine

Wall time, median (ratio to `xmlstarlet ed`):

{table(["Program"] + sizes, time_rows(host, bench.host, "xmlstarlet ed"))}

CPU time of a set, {label(big)}, mean; system time is mostly the page faults
of the process's fresh memory:

{table(["Program", "user", "ratio to xmlstarlet ed", "system"], cpu_rows(host, bench.host, "xmlstarlet ed"))}

Peak resident memory, median:

{table(["Program"] + sizes, memory_rows(host, bench.host))}

System calls of one set, {label(big)} (strace):

{table(["Program"] + SYSCALLS, call_rows(host, bench.host))}

## Set on the panel program, under qemu-ppc -cpu e500v2

Wall time, median (ratio to `plain C`):

{table(["Program"] + sizes, time_rows(panel, bench.panel, "plain C"))}

CPU time of the emulator in a set, {label(big)}, mean:

{table(["Program", "user", "ratio to plain C", "system"], cpu_rows(panel, bench.panel, "plain C"))}

Peak resident memory of the emulator, the guest's memory included, median:

{table(["Program"] + sizes, memory_rows(panel, bench.panel))}

System calls of the guest in one set, {label(big)} (`qemu-ppc -strace`;
`mmap` counts `mmap2`, `write` counts `writev`):

{table(["Program"] + SYSCALLS, call_rows(panel, bench.panel))}

Guest instructions of one set (`bench/guest-instructions.c`): those
executed, the measure of the work on a real core (ratio to the plain C
steps), and those translated, each once. The emulator translates every
piece of code the first time it runs: a cost a real core does not have,
which falls most on startup code that the plain C steps lack (the C++
runtime, the settings file, the panel document).

{table(["Program"] + [f"{label(z)}, {what}" for z in guest for what in ("executed", "translated")], [[n] + [cell for z in guest for cell in (f"{guest[z][n][0] / 1e6:.1f} M ({ratio(guest[z][n][0], guest[z]['plain C'][0])})", f"{guest[z][n][1] / 1e3:.1f} k")] for n in bench.panel])}
"""
    if levers:
        text += f"""
## Levers

From `{before}` to `dolvin, C allocator`: what changed since that commit
but the arena (from 10017bd: the two copies of the NVM document written
from one serialisation). From there to `dolvin`: the XML library on the
program's arena, and the document left to it instead of being freed node
by node. Shares are of the time of `{before}`.

{table(["", before, "C allocator", "arena"], levers)}
"""
    text += memory.sections
    text += f"""
## Instructions (callgrind), set on the {label(mid)} document, build machine

{table(["Program", "Instructions"], [[n, f"{c / 1e6:.1f} M"] for n, c in counted.items()])}

## Get

Median of the runs, without a shell:

{table(["Command", "Wall time", "ratio to xmllint --noout"], [[n, ms(t[0]), ratio(t[0], get['xmllint --noout'][0])] for n, t in get.items()])}
"""
    return text


