"""Each worker's own account of two isolated interpreters reading large
documents at once: wall, user and system seconds and page faults per
worker, beside the same worker reading alone. Where one worker's system
time grows when the other runs, the two meet in the process's memory map,
which two processes do not share. With --same-str each read takes the
same str instead of a fresh one, which leaves only the module's own work.

    PYTHONPATH=build python3 bench/interpreter_workers.py [--size MB] [--rounds N] [--batches N]
        [--same-str]
"""

import argparse
import os
import threading
from concurrent import interpreters

BENCH = os.path.dirname(os.path.abspath(__file__))

SETUP = """
import resource, sys, time
sys.path.insert(0, {bench!r})
from documents import DOCUMENTS
import quorvane
make, root = DOCUMENTS["record-like"]
texts = [make({size})] * {rounds}
def work():
    before, start = resource.getrusage(resource.RUSAGE_THREAD), time.perf_counter()
    for text in texts:
        quorvane.read_string({fresh}, root).search_by_name("name")
    after = resource.getrusage(resource.RUSAGE_THREAD)
    return (time.perf_counter() - start, after.ru_utime - before.ru_utime,
            after.ru_stime - before.ru_stime, after.ru_minflt - before.ru_minflt)
"""


def account(label, times):
    wall, user, system, faults = times
    return f"{label}: wall {wall:.3f} s, user {user:.3f}, system {system:.3f}, {faults} faults"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=20.0, help="MB of each document")
    parser.add_argument("--rounds", type=int, default=3, help="reads per worker and batch")
    parser.add_argument("--batches", type=int, default=5)
    parser.add_argument("--same-str", action="store_true", help="no fresh str per read")
    args = parser.parse_args()
    results = interpreters.create_queue()
    workers = [interpreters.create() for _ in (0, 1)]
    try:
        for worker in workers:
            worker.prepare_main(results=results)
            worker.exec(SETUP.format(bench=BENCH, size=int(args.size * 1_000_000),
                                     rounds=args.rounds,
                                     fresh="text" if args.same_str else "text[:-1] + text[-1]"))
            worker.exec("work()")  # warm
        for number, worker in enumerate(workers):
            worker.exec("results.put(work())")
            print(account(f"worker {number} alone", results.get()))
        for _ in range(args.batches):
            threads = [threading.Thread(target=worker.exec, args=("results.put(work())",))
                       for worker in workers]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            print("at once   " + " | ".join(account("", results.get()).lstrip(": ") for _ in workers))
    finally:
        for worker in workers:
            worker.close()


if __name__ == "__main__":
    main()
