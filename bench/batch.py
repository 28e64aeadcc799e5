#!/usr/bin/env python3
"""Times one batch of bitmaps: the program given them all in one run (on
every core, and held to one encoder call at a time) against cjpeg run on
every core (xargs -P) and ImageMagick's mogrify.

Each tool is paired with the cjpeg batch run by run, the order alternating,
every run writing its JPEGs anew; the table shows the median of the per-pair
time ratios, the median time and peak RSS (of the largest process), and the
total size of the JPEGs.
Usage: batch.py WORK_FOLDER BUILD_FOLDER RUNS BITMAP..."""
import os
import shutil
import statistics
import subprocess
import sys
import time

from bench import program_folders


def main():
    work, build, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    bitmaps = sys.argv[4:]
    cores = str(os.cpu_count())
    mogrify = "/usr/bin/mogrify" if os.path.exists("/usr/bin/mogrify") else shutil.which("mogrify")
    q = "85"

    # The bitmaps under names the program takes (".BMP"), in a folder of
    # their own; the program writes its JPEGs beside them.
    source = os.path.join(work, "batch-src")
    if not os.path.isdir(source):
        os.makedirs(source)
        for i, bitmap in enumerate(bitmaps, 1):
            shutil.copyfile(bitmap, os.path.join(source, f"b{i:02d}.BMP"))
    names = sorted(os.path.join(source, n) for n in os.listdir(source) if n.endswith(".BMP"))

    programs = program_folders(work, build, q, prefix="batch-program")

    def out_folder(tool):
        return os.path.join(work, f"batch-out-{tool}")

    def cjpeg(mode):
        flag = "-optimize" if mode == "baseline" else "-progressive"
        out = out_folder("cjpeg")
        script = (f'cd "{source}" && printf "%s\\0" *.BMP | xargs -0 -P {cores} -I{{}} '
                  f'cjpeg -quality {q} {flag} -outfile "{out}/{{}}.jpg" {{}}')
        return ["sh", "-c", script], out

    def mogrify_tool(mode):
        out = out_folder("mogrify")
        extra = [] if mode == "baseline" else ["-interlace", "JPEG"]
        return [mogrify, "-path", out, "-format", "jpg", "-quality", q] + extra + names, out

    def morvane(mode, workers):
        env = {} if workers is None else {"MORVANE_WORKERS": workers}
        return [programs[mode]] + names, source, env

    def run(cmd, out, env=None):
        """Wall time and peak RSS (KiB) of one batch, its JPEGs removed first."""
        os.makedirs(out, exist_ok=True)
        for name in os.listdir(out):
            if name.endswith(".jpg"):
                os.remove(os.path.join(out, name))
        full_env = dict(os.environ)
        full_env.pop("DISPLAY", None)
        full_env.pop("WAYLAND_DISPLAY", None)
        full_env.pop("MORVANE_WORKERS", None)
        full_env.update(env or {})
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + cmd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, env=full_env)
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            sys.exit(f"failed: {' '.join(cmd[:3])} ...\n{proc.stderr}")
        jpegs = [n for n in os.listdir(out) if n.endswith(".jpg")]
        if len(jpegs) != len(names):
            sys.exit(f"{cmd[0]} wrote {len(jpegs)} JPEGs of {len(names)}")
        size = sum(os.path.getsize(os.path.join(out, n)) for n in jpegs)
        return elapsed, int(proc.stderr.strip().splitlines()[-1]), size

    label = f"batch {len(names)}"
    for mode in ("baseline", "progressive"):
        ref_cmd, ref_out = cjpeg(mode)
        tools = {
            "cjpeg -P": (ref_cmd, ref_out, None),
            "Morvane": morvane(mode, None),
            "Morvane, 1 worker": morvane(mode, "1"),
            "mogrify": mogrify_tool(mode) + (None,),
        }
        for name, (cmd, out, env) in tools.items():
            ratios, times, rss = [], [], []
            run(cmd, out, env)  # warm the page cache
            for k in range(runs):
                if k % 2 == 0:
                    t, m, size = run(cmd, out, env)
                    tr, _, _ = run(ref_cmd, ref_out)
                else:
                    tr, _, _ = run(ref_cmd, ref_out)
                    t, m, size = run(cmd, out, env)
                ratios.append(t / tr)
                times.append(t)
                rss.append(m)
            print(f"| {label} | {mode} | {name} | {statistics.median(ratios):.2f} | "
                  f"{statistics.median(times) * 1000:.0f} | {statistics.median(rss) / 1024:.1f} | {size} | - |",
                  flush=True)


if __name__ == "__main__":
    main()
