#!/usr/bin/env python3
"""Unpacking (Init + MobiToHtml, whole process) timed side by side for two builds.

  bench/compare_unpack.py OLD_BUILD NEW_BUILD [BOOK...]

Runs OLD_BUILD/bench/unpack_book and NEW_BUILD/bench/unpack_book in turn on
each book (default: the largest dictionary of the corpus and a generated 3 MB
book), RUNS times each, and prints the median wall time, the ratio new/old,
and the peak memory above an empty run's, against the size of the HTML text.
"""
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

RUNS = int(os.environ.get("RUNS", "21"))
HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpus", "books")


def run(binary, book, html):
    """Wall seconds and peak resident kilobytes of one run."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.execv(binary, [binary, book, html])
    _, status, usage = os.wait4(pid, 0)
    return time.perf_counter() - start, usage.ru_maxrss


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    old, new = (os.path.join(b, "bench", "unpack_book") for b in sys.argv[1:3])
    work = tempfile.mkdtemp(prefix="compare_unpack.")
    books = sys.argv[3:]
    if not books:
        books = [os.path.join(CORPUS, "palmdoc-mobipocket-dict-v4-cp1252.mobi"),
                 os.path.join(work, "generated-3mb.mobi")]
        subprocess.run([new, "--linked", books[1], "12000"], check=True)
    html = os.path.join(work, "book.htm")
    _, baseline = run(new, os.path.join(work, "missing.mobi"), html)
    for book in books:
        times = {old: [], new: []}
        peaks = {old: 0, new: 0}
        for _ in range(RUNS):
            for binary in (old, new):
                seconds, peak = run(binary, book, html)
                times[binary].append(seconds)
                peaks[binary] = max(peaks[binary], peak)
        text = os.path.getsize(html)
        o, n = statistics.median(times[old]), statistics.median(times[new])
        print(f"{os.path.basename(book)}: HTML {text / 1e6:.2f} MB, {RUNS} runs each")
        print(f"  old {o * 1000:7.1f} ms  peak +{(peaks[old] - baseline) / 1024:.1f} MB")
        print(f"  new {n * 1000:7.1f} ms  peak +{(peaks[new] - baseline) / 1024:.1f} MB"
              f" ({(peaks[new] - baseline) * 1024 / text:.2f}x the text)")
        print(f"  time new/old {n / o:.2f}")
    subprocess.run(["rm", "-rf", work], check=True)


if __name__ == "__main__":
    main()
