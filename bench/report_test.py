# SPDX-License-Identifier: MIT
import unittest

from report import ratio_section, wait_section
from stats import Summary


def ms(median, se=0.0):
    return Summary(median * 1e6, median * 1e6, median * 1e6, se * 1e6)


class RatioSectionTest(unittest.TestCase):
    def setUp(self):
        # baseline, floor, micom, peer: whole runs in ms, then the commands alone.
        self.whole = [ms(100.0, 0.05), ms(100.05, 0.05), ms(101.0, 0.05), ms(124.0, 0.05)]
        self.alone = [ms(1.0), ms(1.0), ms(1.3), ms(24.7)]
        self.rows = ratio_section(["micom / floor", "peer / micom"], [(2, 1), (3, 2)], self.whole, self.alone)

    def row(self, label):
        return [cell.strip() for cell in next(r for r in self.rows if r.startswith(f"| {label}")).split("|")[1:-1]]

    def test_a_floor_within_the_noise_of_the_baseline_gets_no_subtracted_ratio(self):
        self.assertEqual(self.row("micom / floor"), ["micom / floor", "1.01x", "n/a", "1.30x"])

    def test_subtracted_ratio_takes_the_baseline_from_both_sides(self):
        self.assertEqual(self.row("peer / micom"), ["peer / micom", "1.23x", "24.00x", "19.00x"])


class WaitSectionTest(unittest.TestCase):
    def test_share_of_a_core_and_rates_are_per_second_of_the_wait(self):
        row = wait_section(2.0, 1_000_000, 0, 100, 20, 21)[5]
        self.assertEqual(row, "| 0.050 % | 0 ticks of 1/100 s | 10.0 | 10.5 |")


if __name__ == "__main__":
    unittest.main()
