# SPDX-License-Identifier: MIT
import os
import subprocess
import tempfile
import unittest

STOPWATCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build", "bench", "stopwatch")


@unittest.skipUnless(os.access(STOPWATCH, os.X_OK), "bench/run builds the stopwatch first")
class StopwatchTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.result = os.path.join(self.work.name, "alone")

    def tearDown(self):
        self.work.cleanup()

    def run_stopwatch(self, *command):
        return subprocess.run([STOPWATCH, self.result, *command], capture_output=True, text=True, timeout=10)

    def test_passes_output_and_status_on_and_writes_the_time(self):
        run = self.run_stopwatch("/bin/sh", "-c", "echo hello; sleep 0.05; exit 3")
        self.assertEqual((run.returncode, run.stdout), (3, "hello\n"))
        with open(self.result) as f:
            self.assertGreaterEqual(int(f.read()), 50_000_000)

    def test_a_command_ended_by_a_signal_gives_128_plus_it(self):
        self.assertEqual(self.run_stopwatch("/bin/sh", "-c", "kill -TERM $$").returncode, 143)

    def test_a_command_that_cannot_run_writes_no_time(self):
        run = self.run_stopwatch(os.path.join(self.work.name, "missing"))
        self.assertEqual(run.returncode, 127)
        self.assertIn("cannot run", run.stderr)
        self.assertFalse(os.path.exists(self.result))


if __name__ == "__main__":
    unittest.main()
