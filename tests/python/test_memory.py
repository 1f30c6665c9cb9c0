"""Repeated calls must not grow the process: every object, payload and
temporary made by a call is released."""
import gc
import os

import pytest

import quorix

PAGE = os.sysconf("SC_PAGE_SIZE")


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def make(smiles):
    if hasattr(quorix, "parse_smiles"):
        return quorix.parse_smiles(smiles)
    if not hasattr(quorix, "_make_mol"):
        pytest.skip("no way to make a molecule in this build")
    n = len(smiles)
    return quorix._make_mol([(6, 0)] * n, [(i, i + 1, 1) for i in range(n - 1)])


def churn(rounds):
    total = 0
    for i in range(rounds):
        m = make("C[C@H](N)C(=O)O" if i % 2 else "c1ccccc1CCN")
        c = m.copy()
        total += len(c.bonds) + len(m.bonds)
    return total


@pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")
def test_repeated_calls_do_not_grow_memory():
    churn(20_000)  # warm the allocator and the interpreter's caches
    gc.collect()
    before = rss_bytes()
    assert churn(200_000) > 0
    gc.collect()
    grown = rss_bytes() - before
    # One leaked object per call would be tens of megabytes.
    assert grown < 8 * 1024 * 1024, f"RSS grew by {grown} bytes"
