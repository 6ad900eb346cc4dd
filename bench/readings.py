# SPDX-License-Identifier: MIT
"""Figures out of what /proc, strace -c and GNU time print."""


def stat_cpu_ticks(text):
    """utime + stime, in clock ticks, from /proc/PID/stat."""
    # The command name in parentheses may hold spaces and parentheses itself:
    # the fields are counted from the last ")".
    fields = text[text.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])


def schedstat_cpu_ns(text):
    """Time on a CPU, in nanoseconds, from /proc/PID/schedstat."""
    return int(text.split()[0])


def labelled_number(text, label):
    """The number after "label:" on its own line, as in /proc/PID/status,
    /proc/PID/io and the report of `time -v`; None when the line is missing."""
    for line in text.splitlines():
        name, sep, value = line.strip().rpartition(":")
        if sep and name.strip() == label:
            return int(value)
    return None


def strace_counts(text):
    """Calls per system call from a `strace -c` summary, and their total."""
    counts = {}
    total = None
    for line in text.splitlines():
        fields = line.split()
        # Rows: % time, seconds, usecs/call, calls, [errors,] name.
        if len(fields) < 5 or not fields[3].isdigit():
            continue
        if fields[-1] == "total":
            total = int(fields[3])
        else:
            counts[fields[-1]] = int(fields[3])
    if total is None:
        raise ValueError("no total line in the strace summary")
    return counts, total
