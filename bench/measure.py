"""Measurements of one command: wall time (hyperfine, with its own Markdown
table), peak resident memory, instructions (callgrind), and of an emulated
one its system calls and guest instructions, by phase where asked."""

import collections
import json
import re
import subprocess

XPATH = "/NVM/UISettings/accelerometerSetting/sensitivity"
QEMU = "qemu-ppc -cpu e500v2"
SYSCALLS = ["mmap", "munmap", "madvise", "brk", "read", "write"]
# Calls counted under the name above (32-bit PowerPC maps with mmap2).
SYSCALL_ALIASES = {"mmap2": "mmap", "writev": "write", "pwrite64": "write", "readv": "read"}


def run(command, **options):
    return subprocess.run(command, shell=True, check=True, text=True,
                          stdout=subprocess.PIPE, **options).stdout


def hyperfine(commands, runs, prepare, work, shell=True):
    """The wall-time median (seconds) of each named command, from one
    hyperfine run, and hyperfine's own Markdown table of that run."""
    export = work / "hyperfine"
    arguments = ["hyperfine", "--style", "none", "--runs", str(runs), "--export-json",
                 f"{export}.json", "--export-markdown", f"{export}.md"]
    arguments += ["--prepare", prepare] if prepare else ["--warmup", "3"]
    arguments += [] if shell else ["-N"]
    for name, command in commands.items():
        arguments += ["-n", name, command]
    subprocess.run(arguments, check=True, stdout=subprocess.DEVNULL)
    results = json.loads(export.with_suffix(".json").read_text())["results"]
    return {r["command"]: r["median"] for r in results}, export.with_suffix(".md").read_text().strip()


def peak_kib(command, prepare):
    """Peak resident memory of a command (for an emulated program: the
    emulator's, the guest's memory included)."""
    run(prepare)
    return int(run(f"/usr/bin/time -f %M sh -c '{command}' 2>&1 >/dev/null").split()[-1])


def syscalls(command, prepare, work):
    """How often one emulated run makes each of SYSCALLS (the guest's calls
    only, as the emulator reports them)."""
    run(prepare)
    log = work / "syscalls.log"
    run(f"{command.replace(QEMU, f'{QEMU} -strace', 1)} 2>{log}")
    totals = collections.Counter()
    for name in re.findall(r"^\d+ (\w+)\(", log.read_text(errors="replace"), re.M):
        totals[SYSCALL_ALIASES.get(name, name)] += 1
    return [totals[name] for name in SYSCALLS]


def instructions(command, prepare, work):
    run(prepare)
    out = work / "callgrind.out"
    run(f"valgrind --tool=callgrind --callgrind-out-file={out} {command} >/dev/null 2>&1")
    return int(re.search(r"^summary: (\d+)", out.read_text(), re.M).group(1))


def phase_markers(nm, program, phases):
    """phases: [(phase, symbols that start it)], the first from the start.
    Each phase with the address of the first of its symbols that program
    defines; a phase with none joins the one before it."""
    defined = {}
    for fields in map(str.split, run(f"{nm} -C --defined-only {program}").splitlines()):
        if len(fields) >= 3 and fields[1] in "TtWw":
            defined.setdefault(fields[2].split("(")[0], int(fields[0], 16))
    kept = []
    for phase, symbols in phases:
        address = next((defined[s] for s in symbols if s in defined), None)
        if kept and address is None:
            kept[-1] = (f"{kept[-1][0]}, {phase}", kept[-1][1])
        else:
            kept.append((phase, address))
    return kept


def guest_instructions(command, prepare, work, plugin, phases=None):
    """Guest instructions an emulated run executes, and with phases (from
    phase_markers) [(phase, instructions executed in it)]."""
    run(prepare)
    out = work / "guest-instructions"
    markers = ",".join(f"{a:x}" for _, a in phases[1:]) if phases else ""
    run(f"GUEST_INSTRUCTIONS_OUT={out} GUEST_INSTRUCTIONS_MARKERS={markers} "
        + command.replace(QEMU, f"{QEMU} -plugin {plugin}", 1))
    lines = out.read_text().splitlines() + [""]
    executed = int(lines[0])
    if not phases:
        return executed, []
    bounds = [0] + [int(c) for c in lines[1].split()] + [executed]
    names = [p for p, _ in phases]
    reached = len(bounds) - 2  # the phase the run ended in
    if reached < len(names) - 1:
        names[reached:] = [", ".join(names[reached:]) + " (later markers never reached)"]
    return executed, [(n, b - a) for n, a, b in zip(names, bounds, bounds[1:])]
