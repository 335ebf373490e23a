"""Measurements of one command: wall and CPU time (hyperfine), peak resident
memory, system calls, instructions (callgrind) and the guest instructions
of an emulated run."""

import collections
import json
import re
import statistics
import subprocess

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
