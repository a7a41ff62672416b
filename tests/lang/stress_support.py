"""Shared by the Python test files that start zan many times."""
import os
import sys


def fewer_under_stress(cases, n):
    """All the cases, or the first n when the collector is stressed (every
    start of zan then takes seconds)."""
    if os.environ.get("ZAN_GC_STRESS") and len(cases) > n:
        sys.stderr.write(f"collector stressed: {n} of {len(cases)} cases\n")
        return cases[:n]
    return cases
