"""Measures the programs that bench/run built and writes the report and its
plot. Every set starts from the same NVM.xml, restored (and synced) before
each run without being timed; the commands of a table run in one hyperfine
invocation per round, in an order that rotates from round to round.

    python3 bench/report.py [--smoke] [--out FILE] BUILD-BENCH-DIR
"""

import argparse
import collections
import datetime
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

XPATH = "/NVM/UISettings/accelerometerSetting/sensitivity"
QEMU = "qemu-ppc -cpu e500v2"
SYSCALLS = ["mmap", "munmap", "madvise", "brk", "read", "write"]
# Calls counted under the name above (32-bit PowerPC maps with mmap2).
SYSCALL_ALIASES = {"mmap2": "mmap", "writev": "write", "pwrite64": "write", "readv": "read"}


def run(command, **options):
    return subprocess.run(command, shell=True, check=True, text=True,
                          stdout=subprocess.PIPE, **options).stdout


def hyperfine(commands, runs, prepare, rounds, work, shell=True):
    """Wall-time median and the means of user and system time (seconds) of
    each named command."""
    times = collections.defaultdict(list)
    cpu = collections.defaultdict(list)
    names = list(commands)
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        export = work / "hyperfine.json"
        arguments = ["hyperfine", "--style", "none", "--runs", str(max(runs // rounds, 2)),
                     "--export-json", str(export)]
        arguments += ["--prepare", prepare] if prepare else ["--warmup", "3"]
        arguments += [] if shell else ["-N"]
        for name in order:
            arguments += ["-n", name, commands[name]]
        subprocess.run(arguments, check=True, stdout=subprocess.DEVNULL)
        for result in json.loads(export.read_text())["results"]:
            times[result["command"]] += result["times"]
            cpu[result["command"]] += [(result["user"], result["system"])] * len(result["times"])
    return {n: (statistics.median(times[n]), tuple(map(statistics.mean, zip(*cpu[n]))))
            for n in names}


def peak_kib(command, prepare, runs):
    """Median peak resident memory of a command (for an emulated program:
    the emulator's, the guest's memory included)."""
    peaks = []
    for _ in range(runs):
        run(prepare)
        out = run(f"/usr/bin/time -f %M sh -c '{command}' 2>&1 >/dev/null")
        peaks.append(int(out.split()[-1]))
    return statistics.median(peaks)


def syscalls(command, prepare, work):
    """How often one run makes each of SYSCALLS: counted by strace, or for an
    emulated program by the emulator itself (the guest's calls only)."""
    run(prepare)
    log = work / "syscalls.log"
    if command.startswith(QEMU):
        command = command.replace(QEMU, f"{QEMU} -strace", 1)
        run(f"{command} 2>{log}")
        names = re.findall(r"^\d+ (\w+)\(", log.read_text(errors="replace"), re.M)
        counted = collections.Counter(names)
    else:
        run(f"strace -f -c -o {log} sh -c '{command}'")
        counted = collections.Counter()
        for line in log.read_text().splitlines():
            fields = line.split()
            if len(fields) >= 5 and fields[3].isdigit():
                counted[fields[-1]] = int(fields[3])
    totals = collections.Counter()
    for name, count in counted.items():
        totals[SYSCALL_ALIASES.get(name, name)] += count
    return {name: totals[name] for name in SYSCALLS}


def guest_instructions(command, prepare, work, plugin):
    """Guest instructions an emulated run executes, and those it translated."""
    run(prepare)
    out = work / "guest-instructions"
    plugged = command.replace(QEMU, f"{QEMU} -plugin {plugin}", 1)
    run(f"GUEST_INSTRUCTIONS_OUT={out} {plugged}")
    executed, translated = out.read_text().split()
    return int(executed), int(translated)


def instructions(command, prepare, work):
    run(prepare)
    out = work / "callgrind.out"
    run(f"valgrind --tool=callgrind --callgrind-out-file={out} {command} >/dev/null 2>&1 || true")
    return int(re.search(r"^summary: (\d+)", out.read_text(), re.M).group(1))


def label(size):
    return f"{size >> 20} MB" if size >= 1 << 20 else f"{size >> 10} KB"


def ms(seconds):
    value = seconds * 1000
    return f"{value:.2f} ms" if value < 10 else f"{value:.0f} ms" if value >= 1000 else f"{value:.1f} ms"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


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

        def dolvin(build, emulated=False):
            exe = builds / build / "dolvin-sandbox"
            return f"{QEMU + ' ' if emulated else ''}{exe} --set 2 >/dev/null" if exe.exists() else None

        plain = f"{{}} {self.nvm}/NVM.xml {work}/plain.ori {work}/plain.new 2"
        xmlstarlet = f"xmlstarlet ed {{}}-u {XPATH} -v 2 {self.nvm}/NVM.xml >{work}/out.xml"
        before = f"dolvin {self.before}" if self.before else None
        self.host = {"dolvin": dolvin("host"), "dolvin, C allocator": dolvin("host-libc"),
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
        print("bench: get, instructions", file=sys.stderr)
        get = hyperfine(bench.get, 10 if smoke else 400, None, 1, work, shell=False)
        counted = {name: instructions(bench.host[name].replace(" >/dev/null", ""),
                                      bench.restore(bench.sizes[-2]), work)
                   for name in bench.host if name.startswith("dolvin") or name.endswith("-P")}
        guest = {name: guest_instructions(command, bench.restore(bench.sizes[-2]), work,
                                          options.builds / "guest-instructions.so")
                 for name, command in bench.panel.items()}
        report = write_report(bench, host, panel, get, counted, guest, started, load, out)
        out.parent.mkdir(parents=True, exist_ok=True)
        plot(bench, host, panel, out.with_suffix(".png"))
        out.write_text(report)
        if smoke:
            print(report)
        print(f"bench: wrote {out} and {out.with_suffix('.png')}", file=sys.stderr)


def ratio(a, b):
    return f"{a / b:.2f}" if b else "-"


def verdict(value, limit):
    return "met" if value <= limit else "**missed**"


def write_report(bench, host, panel, get, counted, guest, started, load, out):
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

    goals = [
        [f"panel, {label(s)}: set at most 0.7 times the plain C steps",
         ratio(panel["dolvin", s]["wall"], panel["plain C", s]["wall"]),
         verdict(panel["dolvin", s]["wall"] / panel["plain C", s]["wall"], 0.7)] for s in (mid, big)]
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
  `-DDOLVIN_XML_ARENA=OFF`, the XML library on the C library's allocator.{f'''
  `{before}` is the program as of that commit.''' if before else ''}
- `plain C`: `bench/plain-set.c`, the NVM steps alone written as plainly as
  possible with libxml2 (parse, save the copy as loaded, XPath, set, save):
  no settings file, no flush, no rotation. On the panel it is built with
  the same toolchain against the same static libxml2 as dolvin.
- `xmlstarlet ed -u {XPATH} -v 2 NVM.xml > out.xml`, what a script would run;
  `-P` keeps the whitespace text nodes as dolvin does, and its output is byte
  for byte what dolvin writes (`bench/run` checks this for every program).
- The documents come from `bench/make-nvm`: the sensitivity element near
  the top, then sections of sibling settings.
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

Guest instructions of one set, {label(mid)} (`bench/guest-instructions.c`): those
executed, the measure of the work on a real core, and those translated, each
once. The emulator translates every piece of code the first time it runs: a
cost a real core does not have, which falls most on startup code that the
plain C steps lack (the C++ runtime, the settings file, the panel document).

{table(["Program", "Executed", "ratio to plain C", "Translated"], [[n, f"{e / 1e6:.1f} M", ratio(e, guest["plain C"][0]), f"{t / 1e3:.1f} k"] for n, (e, t) in guest.items()])}
"""
    if levers:
        text += f"""
## Levers

From `{before}` to `dolvin, C allocator`: the two copies of the NVM
document written from one serialisation. From there to `dolvin`: the XML
library on the program's arena, and the document left to it instead of being
freed node by node. Shares are of the time of `{before}`.

{table(["", before, "one serialisation", "arena"], levers)}
"""
    text += f"""
## Instructions (callgrind), set on the {label(mid)} document, build machine

{table(["Program", "Instructions"], [[n, f"{c / 1e6:.1f} M"] for n, c in counted.items()])}

## Get

Median of the runs, without a shell:

{table(["Command", "Wall time", "ratio to xmllint --noout"], [[n, ms(t[0]), ratio(t[0], get['xmllint --noout'][0])] for n, t in get.items()])}
"""
    return text


if __name__ == "__main__":
    main()
