#!/usr/bin/env python3
"""Times SavetoJPEG (through savejpg_cli) against cjpeg and ImageMagick.

Each tool is paired with cjpeg run by run, the order alternating, and the
table shows the median of the per-pair time ratios, the median peak RSS,
the output size and the PSNR against the source bitmap.
Usage: bench.py WORK_FOLDER SAVEJPG_CLI RUNS CASE=FILE..."""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time


def run(cmd):
    """Wall time in seconds and peak RSS in KiB of one command. The peak
    comes from GNU time, a small process: a child forked from Python would
    report Python's own size as its peak."""
    if os.path.exists(cmd_output(cmd)):
        os.remove(cmd_output(cmd))  # every run writes a new file, as a conversion usually does
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + cmd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{proc.stderr}")
    return elapsed, int(proc.stderr.strip().splitlines()[-1])


def cmd_output(cmd):
    """The output file of a tool's command line: the .jpg argument."""
    return next(a for a in cmd if a.endswith(".jpg"))


def psnr(compare, source, jpeg):
    out = subprocess.run([compare, "-metric", "PSNR", source, jpeg, "null:"],
                         capture_output=True, text=True)
    m = re.match(r"[0-9.]+|inf", out.stderr.strip())
    return m.group(0) if m else "?"


def main():
    work, cli, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    cases = [a.split("=", 1) for a in sys.argv[4:]]
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
    compare = "/usr/bin/compare" if os.path.exists("/usr/bin/compare") else shutil.which("compare")
    q = "85"
    tools = {
        "baseline": {
            "cjpeg": lambda i, o: ["cjpeg", "-quality", q, "-optimize", "-outfile", o, i],
            "SavetoJPEG": lambda i, o: [cli, i, o, q],
            "convert": lambda i, o: [convert, i, "-quality", q, o],
        },
        "progressive": {
            "cjpeg": lambda i, o: ["cjpeg", "-quality", q, "-progressive", "-outfile", o, i],
            "SavetoJPEG": lambda i, o: [cli, i, o, q, "progressive"],
            "convert": lambda i, o: [convert, i, "-quality", q, "-interlace", "JPEG", o],
        },
    }
    print("| case | mode | tool | time / cjpeg time (median of pairs) | median time ms | peak RSS MB | size bytes | PSNR dB |")
    print("|---|---|---|---|---|---|---|---|")
    for case, source in cases:
        pixels = 0
        with open(source, "rb") as f:
            head = f.read(26)
            pixels = int.from_bytes(head[18:22], "little") * abs(int.from_bytes(head[22:26], "little", signed=True))
        n = runs if pixels > 4_000_000 else runs * 3 if pixels > 1_000_000 else runs * 9
        for mode, mode_tools in tools.items():
            ref = mode_tools["cjpeg"]
            stats = {}
            for name, tool in mode_tools.items():
                out = os.path.join(work, f"{case}-{mode}-{name}.jpg")
                ref_out = os.path.join(work, f"{case}-{mode}-cjpeg.jpg")
                ratios, times, rss = [], [], []
                run(tool(source, out))  # warm the page cache
                for k in range(n):
                    if k % 2 == 0:
                        t, m = run(tool(source, out))
                        tr, _ = run(ref(source, ref_out))
                    else:
                        tr, _ = run(ref(source, ref_out))
                        t, m = run(tool(source, out))
                    ratios.append(t / tr)
                    times.append(t)
                    rss.append(m)
                stats[name] = (statistics.median(ratios), statistics.median(times), statistics.median(rss),
                               os.path.getsize(out), psnr(compare, source, out))
            for name, (ratio, t, m, size, p) in stats.items():
                print(f"| {case} | {mode} | {name} | {ratio:.2f} | {t * 1000:.0f} | {m / 1024:.1f} | {size} | {p} |",
                      flush=True)


if __name__ == "__main__":
    main()
