#!/usr/bin/env python3
"""Times xsndconv wrapping and unwrapping large WAVE files, side by side with cp.

Builds an optimised xsndconv in build/bench-release, writes WAVE files of 1 MiB, 100 MiB and
1 GiB (a 44-byte header and a computed 441 Hz tone), and for each size times, in alternation:

  wrap     xsndconv song.wav     (writes song._xsnd)    against  cp song.wav copy.wav
  unwrap   xsndconv song._xsnd   (writes song.wav)      against  cp song._xsnd copy._xsnd

under GNU time -v, which gives the peak memory (maximum resident set size) of each process.
Every run starts from a synced disk with no output file present; the inputs sit in the page
cache, so the figures are the processor and system-call cost, not the disk's. Each tool run is
paired with the cp run that follows it; the ratio column is the median of the pairs' ratios.
The unwrapped file is compared with the generated one byte for byte.

The results, with the machine they came from, replace the block between the bench markers in
docs/performance.md (use --no-doc to only print them). Not part of the tests.

    python3 bench/run-bench.py [--sizes 1M,100M,1G] [--runs 5] [--large-runs 3]
                               [--tool PATH] [--work DIR] [--keep] [--no-doc]
"""
import argparse
import datetime
import math
import os
import platform
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD_DIR = os.path.join(ROOT, "build", "bench-release")
DOC = os.path.join(ROOT, "docs", "performance.md")
BEGIN_MARK = "<!-- bench:begin (written by bench/run-bench.py) -->"
END_MARK = "<!-- bench:end -->"
GNU_TIME = "/usr/bin/time"

MIB = 1 << 20
LARGE = 512 * MIB  # sizes from here on get --large-runs runs

# The tone: 16-bit stereo at 44100 Hz, 441 Hz, so one period is exactly 100 frames.
RATE, CHANNELS, WIDTH = 44100, 2, 2
BLOCK_ALIGN = CHANNELS * WIDTH
WAVE_HEADER_SIZE = 44


def parse_size(text):
    units = {"K": 1 << 10, "M": MIB, "G": 1 << 30}
    match = re.fullmatch(r"(\d+)([KMG]?)", text.strip().upper())
    if not match:
        raise argparse.ArgumentTypeError("size like 1M, 100M or 1G expected: " + text)
    return int(match.group(1)) * units.get(match.group(2), 1)


def size_label(size):
    for unit, name in ((1 << 30, "GiB"), (MIB, "MiB"), (1 << 10, "KiB")):
        if size % unit == 0:
            return "%d %s" % (size // unit, name)
    return "%d B" % size


def write_wave(path, total_size):
    """A plain PCM WAVE file of exactly total_size bytes: header, then the tone repeated."""
    data_size = (total_size - WAVE_HEADER_SIZE) // BLOCK_ALIGN * BLOCK_ALIGN
    pad = total_size - WAVE_HEADER_SIZE - data_size  # trailing bytes behind the "data" chunk
    byte_rate = RATE * BLOCK_ALIGN
    header = b"RIFF" + struct.pack("<I", total_size - 8) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, 1, CHANNELS, RATE, byte_rate, BLOCK_ALIGN, 8 * WIDTH)
    header += b"data" + struct.pack("<I", data_size)
    assert len(header) == WAVE_HEADER_SIZE

    period = bytearray()
    for i in range(100):
        sample = int(round(16000 * math.sin(2 * math.pi * i / 100)))
        period += struct.pack("<hh", sample, sample)
    block = bytes(period) * (4 * MIB // len(period))  # whole periods, about 4 MiB
    with open(path, "wb") as f:
        f.write(header)
        left = data_size
        while left > 0:
            piece = block if left >= len(block) else block[:left]
            f.write(piece)
            left -= len(piece)
        f.write(b"\0" * pad)
    assert os.path.getsize(path) == total_size


def build_tool():
    subprocess.run(["bash", os.path.join(ROOT, "scripts", "install-deps.sh")], check=True)
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD_DIR, "-DCMAKE_BUILD_TYPE=Release", "-DVE_BUILD_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    jobs = str(os.cpu_count() or 2)
    subprocess.run(["cmake", "--build", BUILD_DIR, "--target", "xsndconv", "-j" + jobs],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(BUILD_DIR, "converter", "xsndconv")


class Run:
    def __init__(self, seconds, cpu_seconds, max_rss_kib):
        self.seconds = seconds          # wall clock
        self.cpu_seconds = cpu_seconds  # user + system time of the command
        self.max_rss_kib = max_rss_kib


def timed(command, output_path):
    """Runs command under GNU time -v from a synced disk, without output_path present."""
    if os.path.exists(output_path):
        os.remove(output_path)
    os.sync()
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report, \
            tempfile.TemporaryFile() as out:
        start = time.perf_counter()
        child = subprocess.Popen([GNU_TIME, "-v", "-o", report.name] + command, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=out)
        # wait4's figures cover time and the command it waited for, in microseconds; time -v
        # itself reports CPU time only in hundredths of a second.
        _, status, usage = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
        text = report.read()
        out.seek(0)
        printed = out.read()
    if child.returncode != 0 or printed:
        sys.exit("bench: %s failed: %s" % (" ".join(command), printed.decode(errors="replace")))
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return Run(seconds, usage.ru_utime + usage.ru_stime, rss)


def compare(tool, size, runs, work):
    """Times wrap and unwrap of one size; returns a list of result rows."""
    src = os.path.join(work, "src")
    unwrap = os.path.join(work, "unwrap")
    copies = os.path.join(work, "cp")
    for d in (src, unwrap, copies):
        os.makedirs(d, exist_ok=True)
    wav = os.path.join(src, "song.wav")
    xsnd = os.path.join(src, "song._xsnd")
    write_wave(wav, size)

    rows = []
    cases = (
        ("wrap", [tool, wav], xsnd, wav, os.path.join(copies, "song.wav")),
        ("unwrap", [tool, os.path.join(unwrap, "song._xsnd")], os.path.join(unwrap, "song.wav"),
         os.path.join(unwrap, "song._xsnd"), os.path.join(copies, "song._xsnd")),
    )
    for name, command, output, cp_source, cp_target in cases:
        if name == "unwrap":
            shutil.move(xsnd, cp_source)  # the wrapped file of the last wrap run
        tool_runs, cp_runs = [], []
        for _ in range(runs):
            tool_runs.append(timed(command, output))
            cp_runs.append(timed(["cp", cp_source, cp_target], cp_target))
        os.remove(cp_target)
        if name == "wrap":
            expected = size + 139
        else:
            expected = size
            if not same_bytes(output, wav):
                sys.exit("bench: the unwrapped file differs from the original")
        if os.path.getsize(output) != expected:
            sys.exit("bench: %s gave %d bytes, %d expected" % (name, os.path.getsize(output), expected))
        rows.append(Row(name, size, runs, tool_runs, cp_runs))
        print("  " + rows[-1].plain(), flush=True)
    for path in (wav, os.path.join(unwrap, "song._xsnd"), os.path.join(unwrap, "song.wav")):
        if os.path.exists(path):
            os.remove(path)
    return rows


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(8 * MIB), fb.read(8 * MIB)
            if x != y:
                return False
            if not x:
                return True


class Row:
    def __init__(self, name, size, runs, tool_runs, cp_runs):
        self.name, self.size, self.runs = name, size, runs
        self.tool = statistics.median(r.seconds for r in tool_runs)
        self.cp = statistics.median(r.seconds for r in cp_runs)
        self.ratio = statistics.median(t.seconds / c.seconds for t, c in zip(tool_runs, cp_runs))
        self.tool_cpu = statistics.median(r.cpu_seconds for r in tool_runs)
        self.cp_cpu = statistics.median(r.cpu_seconds for r in cp_runs)
        self.cpu_ratio = statistics.median(t.cpu_seconds / max(c.cpu_seconds, 1e-6)
                                           for t, c in zip(tool_runs, cp_runs))
        self.tool_rss = max(r.max_rss_kib for r in tool_runs)
        self.cp_rss = max(r.max_rss_kib for r in cp_runs)
        # Both conversions hold the WAVE file's bytes in memory once, by design; this is the rest.
        self.over = self.tool_rss * 1024 - size

    def plain(self):
        return ("%-6s %8s  wall: xsndconv %s, cp %s, ratio %.2f;  cpu: xsndconv %s, cp %s, ratio %.2f;  "
                "peak RSS %.1f MiB (file + %.1f MiB), cp %.1f MiB") % (
            self.name, size_label(self.size), seconds_text(self.tool), seconds_text(self.cp), self.ratio,
            seconds_text(self.tool_cpu), seconds_text(self.cp_cpu), self.cpu_ratio, self.tool_rss / 1024,
            self.over / MIB, self.cp_rss / 1024)

    def markdown(self):
        return "| %s | %s | %d | %s | %s | %.2f | %s | %s | %.2f | %.1f MiB | %+.1f MiB | %.1f MiB |" % (
            self.name, size_label(self.size), self.runs, seconds_text(self.tool), seconds_text(self.cp),
            self.ratio, seconds_text(self.tool_cpu), seconds_text(self.cp_cpu), self.cpu_ratio,
            self.tool_rss / 1024, self.over / MIB, self.cp_rss / 1024)


def seconds_text(s):
    return "%.1f ms" % (s * 1000) if s < 1 else "%.3f s" % s


def first_match(path, pattern):
    try:
        with open(path) as f:
            for line in f:
                m = re.match(pattern, line)
                if m:
                    return m.group(1).strip()
    except OSError:
        pass
    return "unknown"


def command_text(command):
    try:
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True).stdout.strip()
    except OSError:
        return ""


def machine(work, given_tool):
    cpu = "%s (family %s, model %s, stepping %s)" % tuple(
        first_match("/proc/cpuinfo", r"%s\s*:\s*(.*)" % key) for key in ("model name", "cpu family", "model", "stepping"))
    if "hypervisor" in first_match("/proc/cpuinfo", r"flags\s*:\s*(.*)").split():
        cpu += ", in a virtual machine"
    mem_kib = int(first_match("/proc/meminfo", r"MemTotal:\s*(\d+) kB") or 0)
    df = command_text(["df", "-hT", work]).splitlines()
    disk = "unknown"
    if len(df) > 1:
        device, fstype, size = df[1].split()[:3]
        disk = "%s (%s, %s)" % (device, fstype, size)
        name = os.path.basename(device)
        rotational = "/sys/block/%s/queue/rotational" % re.sub(r"\d+$", "", name)
        if os.path.exists(rotational):
            disk += ", reported rotational" if open(rotational).read().strip() == "1" else ", non-rotational"
    glibc = " ".join(platform.libc_ver())
    compiler = command_text(["c++", "--version"]).splitlines()
    commit = command_text(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"])
    dirty = command_text(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no",
                          "Vellum", "converter"])
    return [
        ("Date", datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")),
        ("CPU", cpu),
        ("Cores", "%d online (%s)" % (os.cpu_count() or 0, command_text(["nproc"]) + " usable")),
        ("RAM", "%.1f GiB" % (mem_kib / (1 << 20))),
        ("Disk", disk),
        ("Kernel", platform.system() + " " + platform.release()),
        ("C library", glibc),
        ("Compiler", compiler[0] if compiler else "unknown"),
        ("xsndconv", "given with --tool: " + given_tool if given_tool else
         "built from commit " + commit + (" with local changes in Vellum/ or converter/" if dirty else "")),
        ("Load average (1, 5, 15 min) at the end", " ".join(open("/proc/loadavg").read().split()[:3])),
    ]


def markdown(rows, facts, runs, large_runs):
    lines = [BEGIN_MARK, "", "Measured on:", ""]
    lines += ["- %s: %s" % (k, v) for k, v in facts]
    lines += ["",
              "Medians of %d runs (%d for files of 512 MiB and more). Wall = elapsed time, CPU = user + "
              "system time; each ratio is the median of xsndconv / cp over the run pairs. Peak RSS is "
              "the largest of the runs; \"over the file\" is that minus the WAVE file's size, which "
              "both conversions hold in memory once." % (runs, large_runs),
              "",
              "| Operation | File | Runs | xsndconv wall | cp wall | Ratio | xsndconv CPU | cp CPU | Ratio "
              "| xsndconv peak RSS | over the file | cp peak RSS |",
              "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    lines += [r.markdown() for r in rows]
    lines += ["", END_MARK]
    return "\n".join(lines)


def write_doc(block):
    if os.path.exists(DOC):
        with open(DOC) as f:
            text = f.read()
    else:
        text = "# Performance\n\n%s\n%s\n" % (BEGIN_MARK, END_MARK)
    begin, end = text.find(BEGIN_MARK), text.find(END_MARK)
    if begin < 0 or end < begin:
        text = text.rstrip("\n") + "\n\n" + block + "\n"
    else:
        text = text[:begin] + block + text[end + len(END_MARK):]
    os.makedirs(os.path.dirname(DOC), exist_ok=True)
    with open(DOC, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="1M,100M,1G", help="comma-separated file sizes (K, M, G)")
    parser.add_argument("--runs", type=int, default=5, help="runs per case below 512 MiB")
    parser.add_argument("--large-runs", type=int, default=3, help="runs per case from 512 MiB on")
    parser.add_argument("--tool", help="an xsndconv already built (skips the build)")
    parser.add_argument("--work", help="folder for the generated files (default: a new one in build/)")
    parser.add_argument("--keep", action="store_true", help="keep the generated files")
    parser.add_argument("--no-doc", action="store_true", help="print the results, leave docs/ alone")
    options = parser.parse_args()
    sizes = [parse_size(s) for s in options.sizes.split(",")]
    if min(sizes) < 4096:
        sys.exit("bench: sizes of at least 4 KiB, please")
    if not os.path.exists(GNU_TIME):
        sys.exit("bench: GNU time is missing; run scripts/install-deps.sh")

    tool = os.path.abspath(options.tool) if options.tool else build_tool()
    os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
    work = options.work or tempfile.mkdtemp(prefix="bench-data.", dir=os.path.join(ROOT, "build"))
    os.makedirs(work, exist_ok=True)

    # At most four files of the largest size exist at once: the input, the wrapped file, its
    # unwrapped copy and cp's copy.
    free = shutil.disk_usage(work).free
    need = 4 * max(sizes) + 256 * MIB
    if free < need:
        sys.exit("bench: %s free in %s, %s needed" % (size_label(free // MIB * MIB), work,
                                                          size_label(need // MIB * MIB)))

    rows = []
    try:
        for size in sizes:
            runs = options.large_runs if size >= LARGE else options.runs
            print("%s, %d runs each:" % (size_label(size), runs), flush=True)
            rows += compare(tool, size, runs, work)
    finally:
        if not options.keep:
            shutil.rmtree(work, ignore_errors=True)

    block = markdown(rows, machine(os.path.dirname(work), options.tool), options.runs, options.large_runs)
    if options.no_doc:
        print(block)
    else:
        write_doc(block)
        print("bench: results written to " + os.path.relpath(DOC, ROOT))


if __name__ == "__main__":
    main()
