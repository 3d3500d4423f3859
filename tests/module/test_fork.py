"""A process forked while another thread reads and writes can itself read
and write: no lock of the module is left held in the child."""

import os
import threading
import warnings

import quorvane

DOCUMENT = "<r>" + '<e k="v">text</e>' * 20_000 + "</r>"


def test_children_forked_during_reads_can_read_and_write():
    stop = threading.Event()

    def churn():
        while not stop.is_set():
            quorvane.write_string(quorvane.read_string(DOCUMENT, "r"))

    worker = threading.Thread(target=churn)
    worker.start()
    statuses = []
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)  # fork with a thread running
            for _ in range(20):
                pid = os.fork()
                if pid == 0:
                    try:
                        tree = quorvane.read_string(DOCUMENT, "r")
                        text = quorvane.write_string(tree, 0, False)
                        ok = len(tree.children) == 20_000 and text.startswith('<r>\n<e k="v">text</e>')
                        os._exit(0 if ok else 1)
                    finally:
                        os._exit(2)
                statuses.append(os.waitpid(pid, 0)[1])
    finally:
        stop.set()
        worker.join()
    assert statuses == [0] * 20
