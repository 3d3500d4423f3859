"""The memory a returned tree keeps grows with the tree, and what a read
keeps for the next one is bounded by QUORVANE_KEEP_MIB."""

import os
import random
import textwrap

import pytest

import quorvane
from support import run_child

# The sanitizers' allocator keeps freed memory in quarantine, so resident
# sizes say nothing there.
resident_sizes = pytest.mark.skipif(
    bool(os.environ.get("QUORVANE_SANITIZED")), reason="resident sizes are the sanitizers' own"
)

RESIDENT = textwrap.dedent(
    """
    import os, quorvane
    def resident_mb():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20
    """
)


def resident_child(body, **environment):
    """The numbers a child that knows resident_mb() printed."""
    return [float(word) for word in run_child(RESIDENT + textwrap.dedent(body), **environment)]


@resident_sizes
def test_ten_thousand_held_small_trees_keep_little():
    # Growth is printed after 200 trees too, so a fixed cost per read shows
    # long before it could exhaust the machine.
    growth = resident_child("""
        document = '<cfg version="1"><item key="a">1</item><item key="b">2</item></cfg>'
        held = []
        base = resident_mb()
        for count in (200, 10_000):
            while len(held) < count:
                text = document.replace('"1"', '"%d"' % len(held))
                held.append(quorvane.read_string(text, "cfg"))
                if len(held) == 200 and resident_mb() - base > 64:
                    break
            print(resident_mb() - base)
            if resident_mb() - base > 64:
                break
        assert held[-1].children[1].attrs == {"key": "b"}
    """)
    assert all(mb < 64 for mb in growth), growth


@resident_sizes
@pytest.mark.parametrize("keep_mib, low, high", [("0", 0, 40), ("32", 0, 48), ("256", 64, 400),
                                                   ("not a number", 64, 400)])
def test_regions_kept_for_the_next_read_follow_the_environment(keep_mib, low, high):
    (growth,) = resident_child("""
        document = "<r>" + "".join(f'<e i="{k}" v="x{k}">t{k}</e>' for k in range(400_000)) + "</r>"
        base = resident_mb()
        tree = quorvane.read_string(document, "r")
        del tree
        print(resident_mb() - base)
    """, QUORVANE_KEEP_MIB=keep_mib)
    assert low <= growth < high


def records(seed, count):
    return "<r>" + "".join(f'<e i="{k}" v="{seed}-{k}">t{k}</e>' for k in range(count)) + "</r>"


def check(tree, seed, count, rng):
    assert len(tree.children) == count
    for k in {0, count - 1, rng.randrange(count)}:
        child = tree.children[k]
        assert child.attrs == {"i": str(k), "v": f"{seed}-{k}"}
        assert child.text == f"t{k}"


def test_trees_of_many_sizes_held_and_released_in_random_order():
    # From tables the heap serves alone to ones that fill huge chunks; each
    # release may return a chunk that other held trees must not share.
    rng = random.Random(11)
    held = []
    for seed in range(60):
        if held and rng.random() < 0.4:
            del held[rng.randrange(len(held))]
        count = rng.choice((1, 30, 400, 3_000, 20_000, 60_000))
        held.append((quorvane.read_string(records(seed, count), "r"), seed, count))
        for tree, tree_seed, tree_count in rng.sample(held, min(3, len(held))):
            check(tree, tree_seed, tree_count, rng)
    rng.shuffle(held)
    while held:
        tree, seed, count = held.pop()
        check(tree, seed, count, rng)
