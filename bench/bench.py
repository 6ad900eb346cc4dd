#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""What one `micom v` costs against micom-sim, beside the least a program can
do (floor.cc) and beside a pyserial script (peer.py). Start it with bench/run,
which builds what this needs; it prints the tables and writes bench/results.md."""

import os
import platform
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import readings
import report
import stats

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE = os.path.join(ROOT, "build", "native")
ARM_MICOM = os.path.join(ROOT, "build", "armhf", "micom")
TOOLS = os.path.join(ROOT, "build", "bench")
STATIC = os.path.join(TOOLS, "static")
RESULTS = os.path.join(ROOT, "bench", "results.md")

RUNS = 300
WARMUP = 5
WAIT_SECONDS = 2.0

MICOM_OUTPUT = "SEND V TO MICOM\n" + "".join(f"READ DATA(0x{b:02X})\n" for b in (1, 0, 2, 0))


def fail(message):
    sys.exit(f"bench: {message}")


def snapshot_binaries():
    """Copies micom (dynamic and static) and micom-sim beside the bench tools,
    so that a rebuild of the tree while this runs cannot swap a binary in the
    middle of it."""
    copies = {}
    for name, built in (("micom", NATIVE), ("micom-sim", NATIVE), ("micom-static", STATIC)):
        copies[name] = os.path.join(TOOLS, name)
        shutil.copy2(os.path.join(built, name.replace("-static", "")), copies[name])
    return copies["micom"], copies["micom-static"], copies["micom-sim"]


def spawn(argv, stdout, stderr):
    actions = [
        (os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
        (os.POSIX_SPAWN_OPEN, 2, stderr, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
    ]
    return os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)


def read_text(path):
    with open(path) as f:
        return f.read()


def run_checked(argv, work, expected_stdout=None):
    """Runs argv to its end; stops the benchmark if it fails or prints the wrong thing."""
    out, err = os.path.join(work, "stdout"), os.path.join(work, "stderr")
    _, status, _ = os.wait4(spawn(argv, out, err), 0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0 or (expected_stdout is not None and read_text(out) != expected_stdout):
        fail(f"{' '.join(argv)}: status {code}\nstdout: {read_text(out)!r}\nstderr: {read_text(err)}")


def timed_run(sim, stopwatch, contender, work):
    """One whole run of the sim around the stopwatch around the contender:
    (whole run ns as this script sees it, contender alone ns)."""
    name, command, expected = contender
    result = os.path.join(work, "alone")
    if os.path.exists(result):
        os.unlink(result)
    argv = [sim, "--log", os.devnull, "--", stopwatch, result] + command
    out, err = os.path.join(work, "stdout"), os.path.join(work, "stderr")
    start = time.perf_counter_ns()
    _, status, _ = os.wait4(spawn(argv, out, err), 0)
    whole = time.perf_counter_ns() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0 or read_text(out) != expected or not os.path.exists(result):
        fail(f"{name}: status {code}\nstdout: {read_text(out)!r}\nstderr: {read_text(err)}")
    return whole, int(read_text(result))


def measure_wall(sim, stopwatch, contenders, work):
    whole = [[] for _ in contenders]
    alone = [[] for _ in contenders]
    for i in range(WARMUP + RUNS):
        # Round-robin, each contender leading in turn: drift of the machine
        # and the place in the round fall on all of them alike.
        for k in range(len(contenders)):
            j = (i + k) % len(contenders)
            w, a = timed_run(sim, stopwatch, contenders[j], work)
            if i >= WARMUP:
                whole[j].append(w)
                alone[j].append(a)
        if (i + 1 - WARMUP) % 50 == 0 and i >= WARMUP:
            print(f"bench: {i + 1 - WARMUP}/{RUNS} rounds", file=sys.stderr)
    return [stats.summarize(v) for v in whole], [stats.summarize(v) for v in alone]


def wait_for_log(path, prefix, deadline):
    while time.monotonic() < deadline:
        if os.path.exists(path):
            for line in read_text(path).splitlines():
                if line.startswith(prefix):
                    return line
        time.sleep(0.01)
    fail(f"no '{prefix}' in {path}:\n{read_text(path) if os.path.exists(path) else ''}")


def sample(pid):
    proc = f"/proc/{pid}"
    return (time.monotonic_ns(),
            readings.schedstat_cpu_ns(read_text(f"{proc}/schedstat")),
            readings.stat_cpu_ticks(read_text(f"{proc}/stat")),
            readings.labelled_number(read_text(f"{proc}/io"), "syscr"),
            readings.labelled_number(read_text(f"{proc}/status"), "voluntary_ctxt_switches"))


def measure_wait(sim, micom, work):
    """micom waiting on a MICOM that never answers: CPU, reads and sleeps over WAIT_SECONDS."""
    log = os.path.join(work, "silent.log")
    waiting = subprocess.Popen([sim, "--silent", "--log", log, "--", micom, "v"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 20
        pid = int(wait_for_log(log, "child pid=", deadline).split("=")[1])
        wait_for_log(log, "rx 0x56", deadline)
        time.sleep(0.2)  # past the send, into the read loop
        before = sample(pid)
        time.sleep(WAIT_SECONDS)
        after = sample(pid)
    finally:
        waiting.send_signal(signal.SIGTERM)  # passed on to micom, which restores the line
        waiting.wait(timeout=20)
    wall_ns, cpu_ns, ticks, reads, sleeps = (b - a for a, b in zip(before, after))
    return wall_ns / 1e9, cpu_ns, ticks, reads, sleeps


def count_syscalls(sim, command, work):
    """(counts, total) for the sim and the command together, and for the command alone."""
    summary = os.path.join(work, "strace")
    run_checked(["/usr/bin/strace", "-c", "-f", "-o", summary, sim, "--log", os.devnull, "--"] + command, work)
    with_sim = readings.strace_counts(read_text(summary))
    run_checked([sim, "--log", os.devnull, "--", "/usr/bin/strace", "-c", "-f", "-o", summary] + command, work)
    return with_sim, readings.strace_counts(read_text(summary))


def peak_rss_kib(sim, command, work):
    """The median of three runs of GNU time inside the sim, so it sees the command alone."""
    report_path = os.path.join(work, "time")
    peaks = []
    for _ in range(3):
        run_checked([sim, "--log", os.devnull, "--", "/usr/bin/time", "-v", "-o", report_path] + command, work)
        peaks.append(readings.labelled_number(read_text(report_path), "Maximum resident set size (kbytes)"))
    return sorted(peaks)[1]


def machine():
    model = "unknown CPU"
    for line in read_text("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return f"{model}, {os.cpu_count()} cores, Linux {platform.release()}"


def main():
    micom, micom_static, sim = snapshot_binaries()
    stopwatch = os.path.join(TOOLS, "stopwatch")
    floor = os.path.join(TOOLS, "floor")
    peer = os.path.join(ROOT, "bench", "peer.py")
    contenders = [  # the first is the baseline the others are taken from
        ("baseline: `/bin/true`", ["/bin/true"], ""),
        ("floor: `bench/floor.cc`, static", [floor], ""),
        ("`micom v`", [micom, "v"], MICOM_OUTPUT),
        ("`micom v`, static as on the board", [micom_static, "v"], MICOM_OUTPUT),
        ("peer: `bench/peer.py`, pyserial", ["/usr/bin/python3", peer], "01 00 02 00\n"),
    ]
    names = [c[0] for c in contenders]
    commands = [c[1] for c in contenders]
    load_before = os.getloadavg()

    with tempfile.TemporaryDirectory(prefix="micom-bench-") as work:
        for name, command, expected in contenders:
            run_checked([sim, "--log", os.devnull, "--"] + command, work, expected)
        print(f"bench: {RUNS} interleaved rounds of {len(contenders)} runs", file=sys.stderr)
        whole, alone = measure_wall(sim, stopwatch, contenders, work)
        wait = measure_wait(sim, micom, work)
        calls = [count_syscalls(sim, command, work) for command in commands]
        rss = {name: peak_rss_kib(sim, command, work) for name, command in zip(names, commands)}

    load_after = os.getloadavg()
    size = os.path.getsize
    arm_size = size(ARM_MICOM) if os.path.exists(ARM_MICOM) else None
    lines = [
        "## Benchmark results",
        "",
        f"`bench/run` on {machine()}, {time.strftime('%Y-%m-%d')}. Every figure is a run under",
        "`micom-sim` answering at once (its default V reply, 01 00 02 00, in one write).",
        "Load average (1, 5, 15 min) before: " + ", ".join(f"{x:.2f}" for x in load_before)
        + "; after: " + ", ".join(f"{x:.2f}" for x in load_after) + ".",
        "",
    ]
    lines += report.wall_section(names, whole, alone, RUNS)
    lines += report.ratio_section(["micom / floor", "micom static / floor", "peer / micom"], [(2, 1), (3, 1), (4, 2)],
                                 whole, alone)
    lines += report.wait_section(wait[0], wait[1], wait[2], os.sysconf("SC_CLK_TCK"), wait[3], wait[4])
    lines += report.syscall_section(names, [c[0] for c in calls], [c[1] for c in calls])
    lines += report.memory_section([
        ("`micom`, native (`build/native`)", rss[names[2]], size(micom), "RelWithDebInfo: dynamic, with debug info"),
        ("`micom`, static (`build/bench/static`)", rss[names[3]], size(micom_static),
         "MinSizeRel, linked static as on the board, not stripped"),
        ("`micom`, ARM (`build/armhf`)", None, arm_size,
         "static, stripped; RSS not measurable here: under qemu-arm only qemu's own shows"
         if arm_size else "not built"),
        ("floor", rss[names[1]], size(floor), "static, `g++ -static -O2`, not stripped"),
        ("peer", rss[names[4]], size(peer), "the script; runs on /usr/bin/python3 with pyserial"),
    ])
    text = "\n".join(lines) + "\n"
    print(text)
    with open(RESULTS, "w") as f:
        f.write(text)
    print(f"bench: written to {os.path.relpath(RESULTS, ROOT)}", file=sys.stderr)


if __name__ == "__main__":
    main()
