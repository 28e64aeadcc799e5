#!/usr/bin/env python3
"""Times bitmaps through the program on one thread and on every core
(MORVANE_WORKERS=1 and =cores), each run paired with cjpeg, and from the
run on every core the part that stays on one thread. Bitmaps of 1.5 to 4
megapixels run 3 times as often as RUNS says, smaller ones 9 times.

Each program run is paired with a cjpeg run, the order alternating; the
table shows the medians of the per-pair ratios of wall time and of CPU time
(user and system), the median of the ratio of CPU time to the one-thread
run's (paired too), the median wall time and the peak RSS (median of 3 runs
of GNU time).

The part that stays on one thread, measured: on N cores a run that keeps
every core busy while it can takes wall = serial + parallel / N and CPU =
serial + parallel, so serial = (N * wall - CPU) / (N - 1) from the medians of
the run on every core. The time expected on more cores is then
serial + parallel / cores.
Usage: threads.py WORK_FOLDER BUILD_FOLDER RUNS CASE=FILE..."""
import os
import statistics
import sys

from bench import ENV, peak_rss, program_folders, program_source, run


def main():
    work, build, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    cases = [a.split("=", 1) for a in sys.argv[4:]]
    cores = os.cpu_count() or 1
    print("| case | mode | threads | time / cjpeg time (median of pairs) | CPU time / cjpeg CPU time "
          "(median of pairs) | CPU time / one thread's (median of pairs) | median time ms | peak RSS MB |")
    print("|---|---|---|---|---|---|---|---|")
    serial_rows = []
    for case, source in cases:
        programs = program_folders(work, build, "85", prefix="threads-program")
        named, named_out = program_source(work, case, source)
        with open(source, "rb") as f:
            head = f.read(26)
        pixels = int.from_bytes(head[18:22], "little") * abs(int.from_bytes(head[22:26], "little", signed=True))
        n = runs if pixels > 4_000_000 else runs * 3 if pixels > 1_500_000 else runs * 9
        for mode in ("baseline", "progressive"):
            flag = "-optimize" if mode == "baseline" else "-progressive"
            cjpeg_out = os.path.join(work, f"threads-{case}-{mode}-cjpeg.jpg")
            ref = ["cjpeg", "-quality", "85", flag, "-outfile", cjpeg_out, source]
            env = {n: dict(ENV, MORVANE_WORKERS=str(n)) for n in (1, cores)}
            rss = {n: statistics.median(peak_rss([programs[mode], named], env[n]) for _ in range(3))
                   for n in env}
            ratios = {n: [] for n in env}
            cpu_ratios = {n: [] for n in env}
            own_cpu = []
            times = {n: [] for n in env}
            cpus = {n: [] for n in env}
            for k in range(n):
                cjpeg_first = k % 2 == 0
                for n in env:
                    if cjpeg_first:
                        tr, cr = run(ref, cjpeg_out, True)
                    t, c = run([programs[mode], named], named_out, True, env[n])
                    if not cjpeg_first:
                        tr, cr = run(ref, cjpeg_out, True)
                    ratios[n].append(t / tr)
                    cpu_ratios[n].append(c / cr)
                    times[n].append(t)
                    cpus[n].append(c)
                own_cpu.append(cpus[cores][-1] / cpus[1][-1])
            for n in env:
                own = statistics.median(own_cpu) if n == cores else 1.0
                print(f"| {case} | {mode} | {n} | {statistics.median(ratios[n]):.2f} | "
                      f"{statistics.median(cpu_ratios[n]):.2f} | {own:.2f} | "
                      f"{statistics.median(times[n]) * 1000:.1f} | {rss[n] / 1024:.1f} |", flush=True)
            if cores > 1 and pixels > 4_000_000:
                wall, cpu = statistics.median(times[cores]), statistics.median(cpus[cores])
                serial = max(0.0, (cores * wall - cpu) / (cores - 1))
                serial_rows.append((case, mode, statistics.median(times[1]), wall, serial, cpu - serial))
    if serial_rows:
        print()
        print("| case | mode | one thread ms | on every core ms | on one thread of it ms | "
              "side by side (CPU) ms | expected on 4 cores ms | on 8 cores ms |")
        print("|---|---|---|---|---|---|---|---|")
        for case, mode, one, wall, serial, parallel in serial_rows:
            print(f"| {case} | {mode} | {one * 1000:.1f} | {wall * 1000:.1f} | {serial * 1000:.1f} | "
                  f"{parallel * 1000:.1f} | {(serial + parallel / 4) * 1000:.1f} | "
                  f"{(serial + parallel / 8) * 1000:.1f} |", flush=True)


if __name__ == "__main__":
    main()
