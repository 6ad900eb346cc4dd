# SPDX-License-Identifier: MIT
"""Medians, spreads and the differences and ratios between them."""

import math
import statistics
from dataclasses import dataclass


@dataclass
class Summary:
    median: float
    p10: float
    p90: float
    se: float  # standard error of the median


def summarize(values):
    deciles = statistics.quantiles(values, n=10, method="inclusive")
    quartiles = statistics.quantiles(values, n=4, method="inclusive")
    # The median's standard error for a roughly normal sample, with sigma
    # taken from the interquartile range so that a few stalls do not inflate it.
    sigma = (quartiles[2] - quartiles[0]) / 1.349
    se = 1.2533 * sigma / math.sqrt(len(values))
    return Summary(statistics.median(values), deciles[0], deciles[8], se)


def minus(a, b):
    """a - b of two medians, as (difference, its standard error)."""
    return a.median - b.median, math.hypot(a.se, b.se)


def ratio(numerator, denominator, denominator_se=0.0):
    """numerator / denominator, or None when the denominator is not clearly
    above zero (within three standard errors of it), where a ratio means nothing."""
    if denominator <= 0 or denominator <= 3 * denominator_se:
        return None
    return numerator / denominator
