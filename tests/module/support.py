"""Helpers the module's tests share."""

import subprocess
import sys
import textwrap


def run_child(source):
    """Runs `source` in a fresh interpreter process, so that a crash shows up
    as a failed exit instead of taking the test run down; returns the words
    it printed."""
    completed = subprocess.run([sys.executable, "-c", textwrap.dedent(source)],
                               capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stderr[-2000:]
    return completed.stdout.split()
