# SPDX-License-Identifier: MIT
import unittest

from stats import Summary, minus, ratio, summarize


class SummarizeTest(unittest.TestCase):
    def test_median_and_deciles_of_a_known_sample(self):
        s = summarize([float(v) for v in range(1, 102)])  # 1 .. 101
        self.assertEqual(s.median, 51.0)
        self.assertAlmostEqual(s.p10, 11.0)
        self.assertAlmostEqual(s.p90, 91.0)

    def test_a_few_stalls_barely_move_the_standard_error(self):
        steady = [100.0 + (i % 10) * 0.1 for i in range(200)]
        stalled = steady[:-5] + [500.0] * 5
        self.assertLess(summarize(stalled).se, 1.2 * summarize(steady).se)


class DifferenceAndRatioTest(unittest.TestCase):
    def test_difference_carries_both_errors(self):
        d, se = minus(Summary(10.0, 0, 0, 0.3), Summary(4.0, 0, 0, 0.4))
        self.assertAlmostEqual(d, 6.0)
        self.assertAlmostEqual(se, 0.5)

    def test_no_ratio_over_a_denominator_lost_in_the_noise(self):
        self.assertIsNone(ratio(1.0, 0.05, 0.1))
        self.assertIsNone(ratio(1.0, -0.2, 0.1))
        self.assertIsNone(ratio(1.0, 0.0))
        self.assertAlmostEqual(ratio(1.5, 1.0, 0.1), 1.5)


if __name__ == "__main__":
    unittest.main()
