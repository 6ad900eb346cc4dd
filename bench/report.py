# SPDX-License-Identifier: MIT
"""The benchmark's figures as Markdown tables."""

from stats import minus, ratio


def _ms(ns):
    return ns / 1e6


def _times(ratio_value):
    return "n/a" if ratio_value is None else f"{ratio_value:.2f}x"


def wall_section(names, whole, alone, runs):
    """whole and alone: Summary per contender, in ns; the first is the baseline."""
    lines = [
        f"### Wall time per run ({runs} runs each, interleaved)",
        "",
        "*Whole run* is `micom-sim -- stopwatch COMMAND` as a script sees it: it holds the",
        "sim's start-up, namespace and /dev setup and its 0.1 s look for late bytes after the",
        "command ends. *Minus baseline* takes away the same run with `/bin/true` as the command",
        "(± one standard error). *Command alone* is what the stopwatch inside the sim measured:",
        "spawn, start, exchange and exit of the command, without the sim's share.",
        "",
        "| command | whole run, median ms | p10–p90 ms | minus baseline, ms | command alone, median ms | p10–p90 ms |",
        "| --- | ---: | ---: | ---: | ---: | ---: |",
    ]
    for name, w, a in zip(names, whole, alone):
        d, se = minus(w, whole[0])
        lines.append(
            f"| {name} | {_ms(w.median):.2f} | {_ms(w.p10):.2f}–{_ms(w.p90):.2f} | "
            f"{_ms(d):+.2f} ± {_ms(se):.2f} | {_ms(a.median):.3f} | {_ms(a.p10):.3f}–{_ms(a.p90):.3f} |")
    return lines


def ratio_section(labels, pairs, whole, alone):
    """pairs: (numerator index, denominator index) per label; index 0 is the baseline."""
    lines = [
        "",
        "| ratio | whole run | whole run minus baseline | command alone |",
        "| --- | ---: | ---: | ---: |",
    ]
    for label, (n, d) in zip(labels, pairs):
        num, _ = minus(whole[n], whole[0])
        den, den_se = minus(whole[d], whole[0])
        lines.append(
            f"| {label} | {_times(whole[n].median / whole[d].median)} | "
            f"{_times(ratio(num, den, den_se))} | {_times(alone[n].median / alone[d].median)} |")
    lines += ["", "n/a: the denominator is within three standard errors of the baseline."]
    return lines


def wait_section(seconds, cpu_ns, ticks, ticks_per_second, reads, sleeps):
    return [
        "",
        f"### CPU of `micom v` waiting {seconds:.0f} s on a silent MICOM (`micom-sim --silent`)",
        "",
        "| share of one core | utime+stime | reads per second | sleeps per second |",
        "| ---: | ---: | ---: | ---: |",
        f"| {100 * cpu_ns / (seconds * 1e9):.3f} % | {ticks} ticks of 1/{ticks_per_second} s | "
        f"{reads / seconds:.1f} | {sleeps / seconds:.1f} |",
        "",
        "Share from /proc/PID/schedstat (ns), reads from /proc/PID/io (syscr), sleeps from",
        "the voluntary context switches in /proc/PID/status.",
    ]


def _top(counts, n=6):
    ranked = sorted(counts.items(), key=lambda item: (-item[1], item[0]))
    return ", ".join(f"{name} {calls}" for name, calls in ranked[:n])


def syscall_section(names, with_sim, own):
    """with_sim and own: (counts, total) per contender, the first the baseline."""
    lines = [
        "",
        "### System calls of one run",
        "",
        "*With the sim*: `strace -c -f micom-sim -- COMMAND`. *Own*: `strace -c -f` run by the",
        "sim around the command, so the sim's calls are not counted.",
        "",
        "| command | with the sim | own | own, most frequent |",
        "| --- | ---: | ---: | --- |",
    ]
    for name, (_, sim_total), (counts, total) in zip(names, with_sim, own):
        lines.append(f"| {name} | {sim_total} | {total} | {_top(counts)} |")
    return lines


def memory_section(rows):
    """rows: (name, peak RSS in KiB or None, file size in bytes or None, note)."""
    lines = [
        "",
        "### Peak resident memory and file size",
        "",
        "| program | peak RSS, KiB | file size, bytes | note |",
        "| --- | ---: | ---: | --- |",
    ]
    for name, rss, size, note in rows:
        rss_text = "n/a" if rss is None else str(rss)
        size_text = "n/a" if size is None else f"{size:,}"
        lines.append(f"| {name} | {rss_text} | {size_text} | {note} |")
    return lines
