# SPDX-License-Identifier: MIT
import unittest

from readings import labelled_number, schedstat_cpu_ns, stat_cpu_ticks, strace_counts

STRACE_SUMMARY = """\
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 30.00    0.000030           3        10           read
 20.00    0.000020           1        11         2 ioctl
  0.00    0.000000           0         1           execve
------ ----------- ----------- --------- --------- ----------------
100.00    0.000050           2        22         2 total
"""


class ProcTest(unittest.TestCase):
    def test_cpu_ticks_survive_a_command_name_with_spaces_and_parentheses(self):
        stat = "4242 (a) b (c) S 1 4242 4242 0 -1 4194304 90 0 0 0 7 5 0 0 20 0 1 0 99 0\n"
        self.assertEqual(stat_cpu_ticks(stat), 12)

    def test_schedstat_gives_the_time_on_a_cpu(self):
        self.assertEqual(schedstat_cpu_ns("895881 72686 3\n"), 895881)

    def test_labelled_numbers_of_status_io_and_time(self):
        status = "Name:\tmicom\nvoluntary_ctxt_switches:\t21\nnonvoluntary_ctxt_switches:\t2\n"
        self.assertEqual(labelled_number(status, "voluntary_ctxt_switches"), 21)
        self.assertEqual(labelled_number("rchar: 9\nsyscr: 20\n", "syscr"), 20)
        time_v = '\tCommand being timed: "micom v"\n\tMaximum resident set size (kbytes): 1536\n'
        self.assertEqual(labelled_number(time_v, "Maximum resident set size (kbytes)"), 1536)
        self.assertIsNone(labelled_number(status, "syscr"))


class StraceTest(unittest.TestCase):
    def test_counts_with_and_without_errors_and_the_total(self):
        counts, total = strace_counts(STRACE_SUMMARY)
        self.assertEqual(counts, {"read": 10, "ioctl": 11, "execve": 1})
        self.assertEqual(total, 22)

    def test_a_summary_without_total_is_refused(self):
        with self.assertRaises(ValueError):
            strace_counts(STRACE_SUMMARY.splitlines()[0])


if __name__ == "__main__":
    unittest.main()
