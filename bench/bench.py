#!/usr/bin/env python3
"""Times one file through the program and through SavetoJPEG (the library
alone, driven by savejpg_cli) against cjpeg and ImageMagick.

Each tool is paired with cjpeg run by run, the order alternating, and the
table shows the median of the per-pair ratios of wall time and of CPU time
(user and system), the median wall time, the median peak RSS, the output
size and the PSNR against the source bitmap. A case whose file does not
exist times the run that fails to find it. Quality 85 unless the case names
another (CASE=FILE@QUALITY); from 90 on cjpeg is given -sample 1x1, the
full colour resolution the program codes from 90 on.
Usage: bench.py WORK_FOLDER BUILD_FOLDER RUNS CASE=FILE[@QUALITY]..."""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

# The program runs without a display, as on a server: it never loads Qt.
ENV = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "MORVANE_WORKERS")}


def run(cmd, output, must_succeed, env=None):
    """Wall and CPU time in seconds of one command, started directly (no
    wrapper process in the time), its output file removed first: every run
    writes a new file, as a conversion usually does."""
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env or ENV)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if must_succeed != (proc.returncode == 0):
        sys.exit(f"{'failed' if must_succeed else 'did not fail'}: {' '.join(cmd)}")
    return elapsed, usage.ru_utime + usage.ru_stime


def peak_rss(cmd, env=None):
    """Peak RSS in KiB of one command, from GNU time, a small process: a
    child forked from Python would report Python's own size as its peak."""
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + cmd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, env=env or ENV)
    return int(proc.stderr.strip().splitlines()[-1])


def psnr(compare, source, jpeg):
    out = subprocess.run([compare, "-metric", "PSNR", source, jpeg, "null:"],
                         capture_output=True, text=True)
    m = re.match(r"[0-9.]+|inf", out.stderr.strip())
    return m.group(0) if m else "?"


def program_folders(work, build, quality, prefix="one-program"):
    """A copy of the program's folder per mode, its settings file beside it."""
    programs = {}
    for mode, prg in (("baseline", "False"), ("progressive", "True")):
        folder = os.path.join(work, f"{prefix}-{mode}" + ("" if quality == "85" else f"-q{quality}"))
        os.makedirs(folder, exist_ok=True)
        for file in ("morvane", "libSaveJPG.so"):
            shutil.copy2(os.path.join(build, file), folder)
        with open(os.path.join(folder, "Morvane.ini"), "w", newline="") as ini:
            ini.write(f"[Data]\r\nRate={quality}\r\nPrg={prg}\r\nSet=N\r\n")
        programs[mode] = os.path.join(folder, "morvane")
    return programs


def program_source(work, case, source):
    """The bitmap under a name the program takes (CASE.BMP), in a folder of
    its own where the program writes CASE.jpg beside it; the same file as the
    source where the system allows, so the page cache holds one copy."""
    folder = os.path.join(work, "one-program-src")
    os.makedirs(folder, exist_ok=True)
    name = os.path.join(folder, f"{case}.BMP")
    if os.path.exists(source) and not os.path.exists(name):
        try:
            os.link(source, name)
        except OSError:
            shutil.copyfile(source, name)
    return name, os.path.join(folder, f"{case}.jpg")


def main():
    work, build, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    cases = [a.split("=", 1) for a in sys.argv[4:]]
    cli = os.path.join(build, "savejpg_cli")
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
    compare = "/usr/bin/compare" if os.path.exists("/usr/bin/compare") else shutil.which("compare")
    print("| case | mode | tool | time / cjpeg time (median of pairs) | CPU time / cjpeg CPU time "
          "(median of pairs) | median time ms | peak RSS MB | size bytes | PSNR dB |")
    print("|---|---|---|---|---|---|---|---|---|")
    for case, spec in cases:
        source, _, q = spec.partition("@")
        q = q or "85"
        programs = program_folders(work, build, q)
        exists = os.path.exists(source)
        pixels = 0
        if exists:
            with open(source, "rb") as f:
                head = f.read(26)
            pixels = int.from_bytes(head[18:22], "little") * abs(int.from_bytes(head[22:26], "little", signed=True))
        n = runs if pixels > 4_000_000 else runs * 3 if pixels > 1_000_000 else runs * 9
        named, named_out = program_source(work, case, source)
        for mode in ("baseline", "progressive"):
            flag = ["-optimize"] if mode == "baseline" else ["-progressive"]
            if int(q) >= 90:
                flag += ["-sample", "1x1"]
            out = {name: os.path.join(work, f"{case}-{mode}-{name}.jpg") for name in ("cjpeg", "SavetoJPEG", "convert")}
            out["Morvane"] = named_out
            tools = {
                "cjpeg": ["cjpeg", "-quality", q] + flag + ["-outfile", out["cjpeg"], source],
                "Morvane": [programs[mode], named],
                "SavetoJPEG": [cli, source, out["SavetoJPEG"], q] + ([] if mode == "baseline" else ["progressive"]),
                "convert": [convert, source, "-quality", q] + ([] if mode == "baseline" else ["-interlace", "JPEG"])
                           + [out["convert"]],
            }
            if not exists:
                del tools["convert"]  # ImageMagick's failure says nothing about conversions
            ref = tools["cjpeg"]
            stats = {}
            for name, cmd in tools.items():
                rss = [peak_rss(cmd) for _ in range(3)]  # also warms the page cache
                ratios, cpu_ratios, times = [], [], []
                for k in range(n):
                    if k % 2 == 0:
                        t, c = run(cmd, out[name], exists)
                        tr, cr = run(ref, out["cjpeg"], exists)
                    else:
                        tr, cr = run(ref, out["cjpeg"], exists)
                        t, c = run(cmd, out[name], exists)
                    ratios.append(t / tr)
                    cpu_ratios.append(c / cr if cr > 0 else float("nan"))
                    times.append(t)
                size = os.path.getsize(out[name]) if exists else "-"
                stats[name] = (statistics.median(ratios), statistics.median(cpu_ratios), statistics.median(times),
                               statistics.median(rss), size, psnr(compare, source, out[name]) if exists else "-")
            for name, (ratio, cpu, t, m, size, p) in stats.items():
                print(f"| {case} | {mode} | {name} | {ratio:.2f} | {cpu:.2f} | {t * 1000:.1f} | {m / 1024:.1f} | "
                      f"{size} | {p} |", flush=True)


if __name__ == "__main__":
    main()
