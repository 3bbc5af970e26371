#!/usr/bin/env python3
"""Quillmar benchmark: the program beside the floor the machine allows.

Builds a program directory with its own host and data sets of growing size
in a temporary directory, runs the real `quillmar` on configuration files
(unattended, offscreen) and compares it with

  * bench_floor, which issues the same host calls directly (no run driver,
    no windows), and
  * a plain read/write copy and `cp` of the same files, for the bytes of
    large transfers.

Usage:
  bench/run.py [--build DIR] [--quick | --large]
               [--transfers-only | --extras-only | --web-only |
                --archives-only]
               [--repeat K]
               [--work DIR] [--keep]
               [--json FILE] [--update-doc]
  bench/run.py --report FILE [--update-doc]

--build is a CMake build directory holding bin/quillmar, bin/wcserver and
bench/bench_floor (configure it with -DCMAKE_BUILD_TYPE=Release). --work picks
the file system the data lives on (default: the system's temporary
directory; on tmpfs the run shows the software's own cost without the disk).
--update-doc rewrites the matching results section of docs/BENCHMARKS.md.
--large takes areas of 10,000 and 100,000 records (scan in place, FILES.BBS
import, listing, move, delete; no transfers), holds every program run to
64 MiB of peak memory, and times the longest stretch without event
processing of the main window during one run over 100,000 records and of
the configuration tool (bench/bench_gaps); one round unless --repeat.
--web-only runs the fixed costs and the All Files Lists of many small
areas (text, HTML, JSON) alone. --archives-only runs the fixed costs and
the descriptions from archives alone: scan-and-add by transfer of N
uploads of each format with their file_id.diz, against the same number of
plain files (ARJ, ARC and ZOO through their Debian programs, with
[Extras] Archivers=ARJ ARC ZOO; needs arj and arc to make them).
Exit status: 0 when every target is met, 3 when one is missed, 1 on error.

Times: wall time around each process (time.perf_counter), and the CPU time
(user + system) of that process. Every program run pays a fixed start-up and
shut-down (Qt start, login, the 1 s automatic-run timer and the 1 s quit
timer); "net" figures subtract the median of runs of a configuration with
one "NA" entry, and the floor's subtract a bare login. Per-item costs,
ratios and growth factors use net figures. Scan-and-add, the large
transfers and the listings are measured in --repeat rounds (fresh data each
round; the median is kept); imports, moves and deletes once.
Peak memory is the maximum resident set size of each process
(/usr/bin/time).

The extras: scan-and-add by transfer of small files of distinct content
with [Extras] Duplicates=Refuse against the same with it off (the index
brought up to date first, as every night after the first), and the building
of the duplicate index of 800 MiB of stored files (`quillmar --duplicates`
without quillmar.db, less the same run with it) against `sha256sum` of the
same files (both read from the page cache); uploads the upload check
refuses every one of, left in place against moved into a RefusedFolder.
The description extras: the
FILES.BBS import of the list the import measurement uses (it is in the size
and date layout) with [Extras] FilesBbsDialects=Auto against Off, and the
scan-and-add of archives whose file_id.diz is drawn in ANSI with
AnsiDescriptions=Text against Keep.
"""

import argparse
import datetime
import json
import os
import platform
import re
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

GIB = 1 << 30
MIB = 1 << 20
MIN_FREE = 3 * GIB
DATA_LIMIT = GIB  # the largest data set stays under this

ROOT = Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "BENCHMARKS.md"
# docs/BENCHMARKS.md keeps one results section per kind of file system.
MARK = "<!-- results:%s:%s -->"

# Targets.
HOST_FLOOR_TARGET = 1.5  # the program within 1.5x of its host-call floor
TRANSFER_FLOOR_TARGET = 1.3  # small transfers within 1.3x of that floor
CP_TARGET = 1.5          # large transfers within 1.5x of cp + fsync
GROWTH_TARGET = 1.3      # growth within 1.3x of linear
DUPLICATES_TARGET = 1.3  # Duplicates=Refuse within 1.3x of off
HASH_TARGET = 1.25       # building the index within 1.25x of sha256sum
LARGE_MEMORY_MIB = 64    # --large: peak memory of every program run
EVENT_GAP_MS = 100       # --large: events processed at least this often

SIZES = {
    "full": {
        "scan": [1000, 10000],
        "big_files": 100,
        "import_lines": [1000, 20000],
        "list_records": [1000, 20000],
        "move_delete": [1000, 10000],
        "na_entries": 1000,
        "extras_files": 10000,
        "index_files": 100,
        "dialect_lines": 20000,
        "ansi_files": 2000,
        "web_areas": 1000,
        "archive_files": 300,
    },
    "quick": {
        "scan": [200, 1000],
        "big_files": 10,
        "import_lines": [200, 1000],
        "list_records": [200, 1000],
        "move_delete": [200, 1000],
        "na_entries": 200,
        "extras_files": 1000,
        "index_files": 10,
        "dialect_lines": 2000,
        "ansi_files": 200,
        "web_areas": 200,
        "archive_files": 20,
    },
    "large": {
        "scan": [10000, 100000],
        "big_files": 0,
        "import_lines": [20000, 200000],
        "list_records": [10000, 100000],
        "move_delete": [10000, 100000],
        "na_entries": 1000,
    },
}
BIG_FILE_SIZE = 8 * MIB
WEB_AREA_FILES = 20  # records in each area of the All Files Lists
BASELINE_REPEATS = 3


class BenchError(Exception):
    pass


def file_name(prefix, i, ext):
    # 12 characters: within the 14 a stored name may have.
    return "%s%07d.%s" % (prefix, i, ext)


def make_empty_files(directory, count, prefix="F", ext="TXT"):
    directory.mkdir(parents=True, exist_ok=True)
    for i in range(1, count + 1):
        (directory / file_name(prefix, i, ext)).touch()


def files_bbs_lines(count_lines):
    """A FILES.BBS of count_lines lines: per file one file line (size and
    date columns, then the description) and one continuation line."""
    files = count_lines // 2
    lines = []
    for i in range(1, files + 1):
        name = file_name("B", i, "DAT")
        lines.append("%s  %d  01-01-98  Bench upload %07d: sample data set"
                     " with a description long enough to wrap" % (name, i, i))
        lines.append("                               | second line of the"
                     " description of %07d, also of some length" % i)
    return files, lines


def describe_machine(work, build):
    info = {"cpus": os.cpu_count(), "cpu": "", "kernel": platform.release(),
            "os": platform.system()}
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                info["cpu"] = line.split(":", 1)[1].strip()
                break
        for line in open("/proc/meminfo"):
            if line.startswith("MemTotal"):
                info["memory_gib"] = round(int(line.split()[1]) / (1 << 20), 1)
        for line in open("/etc/os-release"):
            if line.startswith("PRETTY_NAME="):
                info["os"] = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    info["disk"] = describe_disk(work)
    info["compiler"], info["build_type"] = describe_build(build)
    info["load_before"] = os.getloadavg()[0]
    return info


def describe_disk(work):
    try:
        out = subprocess.run(
            ["findmnt", "-n", "-o", "SOURCE,FSTYPE", "-T", str(work)],
            capture_output=True, text=True, check=True).stdout.split()
        source, fstype = out[0], out[1]
    except (OSError, subprocess.CalledProcessError, IndexError):
        return "unknown"
    kind = ""
    rotational = Path("/sys/block") / \
        re.sub(r"\d+$", "", os.path.basename(source)) / "queue" / "rotational"
    if rotational.exists():
        kind = ", reported rotational" \
            if rotational.read_text().strip() == "1" else \
            ", reported non-rotational"
    total = shutil.disk_usage(work).total
    return "%s on %s (%.0f GiB%s)" % (fstype, source, total / GIB, kind)


def describe_build(build):
    cache = Path(build) / "CMakeCache.txt"
    compiler, build_type = "unknown", "unknown"
    if cache.exists():
        text = cache.read_text(errors="replace")
        m = re.search(r"^CMAKE_CXX_COMPILER:\w+=(.*)$", text, re.M)
        if m:
            try:
                compiler = subprocess.run(
                    [m.group(1), "--version"], capture_output=True,
                    text=True).stdout.splitlines()[0]
            except (OSError, IndexError):
                compiler = m.group(1)
        m = re.search(r"^CMAKE_BUILD_TYPE:\w+=(.*)$", text, re.M)
        if m:
            build_type = m.group(1)
    return compiler, build_type


class Runner:
    """Runs a process, timing it and taking its peak memory."""

    def __init__(self, work):
        self.work = work
        tool = Path("/usr/bin/time")  # GNU time: peak memory per process
        self.time_tool = tool if tool.exists() else None

    def run(self, argv, env=None, cwd=None, flush_first=True):
        """Returns dict(wall, cpu, rss_kb, out, load)."""
        if flush_first:
            os.sync()  # earlier writes are not flushed on this run's time
        stats = self.work / ".time.out"
        full = list(map(str, argv))
        if self.time_tool:
            full = [str(self.time_tool), "-f", "%M %U %S", "-o",
                    str(stats)] + full
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        proc = subprocess.run(full, env=env, cwd=cwd, capture_output=True,
                              text=True, errors="replace")
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if proc.returncode != 0:
            raise BenchError("%s exited %d: %s%s" % (
                " ".join(map(str, argv)), proc.returncode, proc.stdout,
                proc.stderr))
        cpu = (after.ru_utime - before.ru_utime) + \
            (after.ru_stime - before.ru_stime)
        rss = after.ru_maxrss  # an upper bound only, without the time tool
        if self.time_tool and stats.exists():
            fields = stats.read_text().split()
            rss = int(fields[-3])
            cpu = float(fields[-2]) + float(fields[-1])
        return {"wall": wall, "cpu": cpu, "rss_kb": rss, "out": proc.stdout,
                "load": os.getloadavg()[0]}


def crc16(data):
    """The CRC-16 of ZOO (and LHA, ARC)."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def zoo(members):
    """A ZOO archive of stored members (no Debian tool makes one)."""
    tag, start = 0xFDC4A7DC, 34

    def entry(following, at, name, data):
        return struct.pack("<IBBIIHHHIIBBBBIH", tag, 1, 0, following, at,
                           0x5921, 0, crc16(data), len(data), len(data), 1, 0,
                           0, 0, 0, 0) + name.encode().ljust(13, b"\0")

    size = len(entry(0, 0, "", b""))
    out = b"ZOO 2.10 Archive.\x1a".ljust(20, b"\0") + \
        struct.pack("<IIiBB", tag, start, -start, 2, 0)
    out = out.ljust(start, b"\0")
    for name, data in members:
        at = len(out) + size
        out += entry(at + len(data), at, name, data) + data
    return out + entry(0, 0, "", b"")


def median_run(runs):
    """The run of median wall time (the lower one of an even count)."""
    ordered = sorted(runs, key=lambda r: r["wall"])
    return ordered[(len(ordered) - 1) // 2]


class Bench:
    def __init__(self, args):
        self.quick = args.quick
        self.large = args.large
        self.transfers_only = args.transfers_only
        self.extras_only = args.extras_only
        self.gaps_only = args.gaps_only
        self.web_only = args.web_only
        self.archives_only = args.archives_only
        self.repeat = max(1, args.repeat if args.repeat else
                          1 if args.large else 3)
        self.kind = "quick" if args.quick else \
            "large" if args.large else "full"
        self.sizes = SIZES[self.kind]
        self.build = Path(args.build).resolve()
        self.bin = self.build / "bin"
        self.floor = self.build / "bench" / "bench_floor"
        self.gaps = self.build / "bench" / "bench_gaps"
        for needed in (self.bin / "quillmar", self.bin / "wcserver",
                       self.floor) + ((self.gaps,) if self.large else ()):
            if not needed.exists():
                raise BenchError("missing %s: build the targets quillmar, "
                                 "wcserver, dunzip, manual, bench_floor and "
                                 "bench_gaps in %s" % (needed, self.build))
        base = Path(args.work) if args.work else Path(tempfile.gettempdir())
        base.mkdir(parents=True, exist_ok=True)
        free = shutil.disk_usage(base).free
        if free < MIN_FREE:
            raise BenchError("only %.1f GiB free in %s; the benchmark needs "
                             "3 GiB" % (free / GIB, base))
        big = self.sizes["big_files"] * BIG_FILE_SIZE
        if big >= DATA_LIMIT:
            raise BenchError("large data set of %d MiB is over 1 GiB" %
                             (big // MIB))
        self.work = Path(tempfile.mkdtemp(prefix="qm-bench-", dir=base))
        self.keep = args.keep
        self.runner = Runner(self.work)
        self.prog = self.work / "prog"
        self.home = self.prog / "host"
        self.areas_dir = self.work / "areas"
        self.next_area = 1
        self.labels = 0
        self.results = []
        self.env = dict(os.environ)
        self.env.update({"LC_ALL": "C", "QT_QPA_PLATFORM": "offscreen",
                         "XDG_RUNTIME_DIR": str(self.work / "runtime")})
        self.env.pop("DISPLAY", None)
        self.env.pop("WAYLAND_DISPLAY", None)

    # ---- set-up ----------------------------------------------------------

    def setup(self):
        shutil.copytree(self.bin, self.prog)
        (self.work / "runtime").mkdir(mode=0o700)
        self.tool("init", self.home)
        self.areas_dir.mkdir()

    def tool(self, *args):
        subprocess.run([str(self.prog / "wcserver")] + list(map(str, args)),
                       check=True, capture_output=True)

    def new_area(self, label):
        number = self.next_area
        self.next_area += 1
        directory = self.areas_dir / ("%s-%d" % (label, number))
        directory.mkdir(parents=True)
        self.tool("area", "add", self.home, "--number", number, "--name",
                  label[:31], "--path", directory)
        return number, directory

    def count(self, area):
        out = subprocess.run([str(self.floor), "count", self.home, str(area)],
                             check=True, capture_output=True, text=True).stdout
        return int(out.strip())

    def expect(self, area, n, directory=None):
        got = self.count(area)
        if got != n:
            raise BenchError("area %d holds %d records, not %d" % (area, got, n))
        if directory is not None:
            stored = sum(1 for p in directory.iterdir()
                         if p.is_file() and not p.name.startswith("."))
            if stored != n:
                raise BenchError("area %d stores %d files, not %d" %
                                 (area, stored, n))

    def config(self, label, entries):
        """Writes label.cfg; entries are 8-tuples (AreaNum, AreaName,
        FileAction, FileActionParam, FileActionSpec, DescAction,
        DescActionSpec, Path), or 9 with a List's AddedWithinDays."""
        tsv = self.work / (label + ".tsv")
        with open(tsv, "w") as f:
            for e in entries:
                f.write("\t".join(map(str, e)) + "\n")
        cfg = self.work / (label + ".cfg")
        subprocess.run([str(self.floor), "config", str(cfg), str(tsv)],
                       check=True, capture_output=True)
        return cfg

    # ---- measuring -------------------------------------------------------

    def program(self, entries):
        """Runs the program on a configuration of entries; a run that logs
        a problem is an error."""
        self.labels += 1
        label = "run%d" % self.labels  # no dot: the log is label.err
        cfg = self.config(label, entries)
        r = self.runner.run([self.prog / "quillmar", cfg], env=self.env,
                            cwd=self.work)
        log = self.work / (label + ".err")
        if log.exists():
            raise BenchError("the run of %s logged problems:\n%s" % (
                cfg, log.read_text(errors="replace")[:2000]))
        return r

    def floor_run(self, *args):
        return self.runner.run([self.floor] + list(args), cwd=self.work)

    def record(self, group, name, n, runs, who, items=None, **extra):
        """Keeps the median of runs; who is "program" or "floor" (whose
        fixed costs are taken off) or anything else (nothing taken off)."""
        if isinstance(runs, dict):
            runs = [runs]
        r = median_run(runs)
        base, base_cpu = {"program": (self.t0_prog, self.c0_prog),
                          "floor": (self.t0_floor, self.c0_floor)}.get(
                              who, (0.0, 0.0))
        row = {"group": group, "name": name, "n": n,
               "items": items or n, "who": who, "wall": r["wall"],
               "net": max(r["wall"] - base, 1e-6), "cpu": r["cpu"],
               "net_cpu": max(r["cpu"] - base_cpu, 1e-6),
               "rss_kb": r["rss_kb"], "load": r["load"],
               "runs": [x["wall"] for x in runs]}
        row.update(extra)
        self.results.append(row)
        print("  %-46s n=%-6d wall %8.3f  net %8.3f  cpu %6.2f  peak %5.1f "
              "MiB  load %.1f%s" % (
                  name, n, row["wall"], row["net"], row["cpu"],
                  row["rss_kb"] / 1024.0, row["load"],
                  "" if len(runs) == 1 else "  (median of %d)" % len(runs)),
              flush=True)
        return row

    def baselines(self):
        print("fixed costs", flush=True)
        area, directory = self.new_area("baseline")
        entry = (area, "baseline", "NA", "NA", "NA", "NA", "NA", directory)
        self.program([entry])  # the first start writes the settings
        runs = [self.program([entry]) for _ in range(BASELINE_REPEATS)]
        self.t0_prog = statistics.median(r["wall"] for r in runs)
        self.c0_prog = statistics.median(r["cpu"] for r in runs)
        floors = [self.floor_run("login", self.home)
                  for _ in range(BASELINE_REPEATS)]
        self.t0_floor = statistics.median(r["wall"] for r in floors)
        self.c0_floor = statistics.median(r["cpu"] for r in floors)
        self.record("baseline", "program: one NA entry (start, stop)", 1,
                    runs, "fixed")
        self.record("baseline", "floor: login and logout", 1, floors,
                    "fixed")

    def scan_add(self):
        print("scan-and-add of new empty files", flush=True)
        # Rounds over all sizes, so that a slow spell of the disk falls on
        # every size and contender alike; the median round is kept.
        runs = {}
        for _ in range(self.repeat):
            for n in self.sizes["scan"]:
                for (mode, who), r in self.scan_add_once(n):
                    runs.setdefault((n, mode, who), []).append(r)
        for (n, mode, who), rs in runs.items():
            self.record("scan", "%s: %s" % (
                "in place" if mode == "inplace" else "by transfer",
                "program" if who == "program" else "host-call floor"),
                n, rs, who, mode=mode)

    def scan_add_once(self, n):
        """One round of the four scan-and-add runs of n new files (the two
        in place alone for --large)."""
        # In place: the files lie in the area's own directory.
        area, directory = self.new_area("inplace-prog-%d" % n)
        make_empty_files(directory, n)
        r = self.program([(area, "inplace", "Add", "Scan For New", "*.*",
                           "NA", "NA", directory)])
        self.expect(area, n)
        yield ("inplace", "program"), r
        area, directory = self.new_area("inplace-floor-%d" % n)
        make_empty_files(directory, n)
        r = self.floor_run("add", self.home, area, directory)
        self.expect(area, n)
        yield ("inplace", "floor"), r
        if self.large:
            return

        # By transfer: the files lie in an upload directory.
        source = self.work / ("upload-%d" % self.next_area)
        make_empty_files(source, n)
        area, directory = self.new_area("transfer-prog-%d" % n)
        r = self.program([(area, "transfer", "Add", "Scan For New",
                           str(source) + "/*.*", "NA", "NA", directory)])
        self.expect(area, n, directory)
        yield ("transfer", "program"), r
        area, directory = self.new_area("transfer-floor-%d" % n)
        r = self.floor_run("add", self.home, area, source, "--transfer")
        self.expect(area, n, directory)
        yield ("transfer", "floor"), r

    def big_transfer(self):
        count = self.sizes["big_files"]
        total = count * BIG_FILE_SIZE
        print("transfer of %d files of 8 MiB (%d MiB)" % (count, total // MIB),
              flush=True)
        source = self.work / "big-upload"
        source.mkdir()
        block = os.urandom(BIG_FILE_SIZE)
        for i in range(1, count + 1):
            with open(source / file_name("G", i, "BIN"), "wb") as f:
                f.write(i.to_bytes(8, "little"))  # no two files alike
                f.write(block[8:])
        files = sorted(source.iterdir())

        def done(directory):
            self.check_copies(files, directory)
            shutil.rmtree(directory)  # one copy on disk at a time

        runs = {}
        for _ in range(self.repeat):
            for key, name, who, r in self.big_transfer_once(source, files,
                                                            done):
                runs.setdefault((key, name, who), []).append(r)
        for (key, name, who), rs in runs.items():
            self.record("big", name, count, rs, who, key=key, bytes=total)
        shutil.rmtree(source)

    def big_transfer_once(self, source, files, done):
        """One round: the program, the host-call floors and the plain
        copies of the same files; yields (key, name, who, result)."""
        count = len(files)
        area, directory = self.new_area("big-prog")
        r = self.program([(area, "big", "Add", "Scan For New",
                           str(source) + "/*.*", "NA", "NA", directory)])
        self.expect(area, count)
        done(directory)
        yield "program", "program", "program", r

        for key, name, extra in (
                ("floor", "host-call floor, 4 KiB blocks", []),
                ("floor64", "host-call floor, 64 KiB blocks",
                 ["--block", "65536"])):
            area, directory = self.new_area("big-" + key)
            r = self.floor_run("add", self.home, area, source, "--transfer",
                               *extra)
            self.expect(area, count)
            done(directory)
            yield key, name, "floor", r

        # The byte floors without the host: a plain read/write loop, then cp.
        target = self.work / "big-copy"
        for key, name, extra in (
                ("copy_sync", "read/write, 4 KiB blocks, fsync per file",
                 ["--fsync"]),
                ("copy", "read/write, 4 KiB blocks", [])):
            target.mkdir()
            r = self.floor_run("copy", source, target, *extra)
            done(target)
            yield key, name, "plain", r

        target.mkdir()
        r = self.runner.run(["cp", "--"] + files + [target])
        done(target)
        yield "cp", "cp", "plain", r

        target.mkdir()
        r1 = self.runner.run(["cp", "--"] + files + [target])
        r2 = self.runner.run(["sync", "--"] + [target / f.name for f in files],
                             flush_first=False)
        done(target)
        yield "cp_sync", "cp, then fsync of each copy", "plain", {
            "wall": r1["wall"] + r2["wall"], "cpu": r1["cpu"] + r2["cpu"],
            "rss_kb": max(r1["rss_kb"], r2["rss_kb"]), "load": r2["load"]}

    @staticmethod
    def check_copies(files, directory):
        for f in files:
            copy = directory / f.name
            if not copy.exists() or copy.stat().st_size != f.stat().st_size:
                raise BenchError("%s was not copied whole" % copy)
        with open(files[-1], "rb") as a, \
                open(directory / files[-1].name, "rb") as b:
            if a.read(1 << 16) != b.read(1 << 16):
                raise BenchError("the copy of %s differs" % files[-1])

    def records(self):
        print("FILES.BBS import, Full listing, move and delete", flush=True)
        populated = {}  # records -> (area, directory)

        def run_import(lines, group):
            area, directory = self.new_area("import-%d" % lines)
            files, text = files_bbs_lines(lines)
            make_empty_files(directory, files, "B", "DAT")
            with open(directory / "FILES.BBS", "w", newline="") as f:
                f.write("\r\n".join(text) + "\r\n")
            r = self.program([(area, "import", "Add", "Scan For New",
                               "FILES.BBS", "NA", "NA", directory)])
            self.expect(area, files)
            self.record(group, "FILES.BBS import (lines; %d records)" % files,
                        lines, r, "program")
            populated[files] = (area, directory)

        for lines in self.sizes["import_lines"]:
            run_import(lines, "import")

        for n in self.sizes["list_records"]:
            if n not in populated:
                run_import(2 * n, "import-extra")
        largest = max(self.sizes["list_records"])
        runs = {}
        for _ in range(self.repeat):
            for n in self.sizes["list_records"]:
                area, directory = populated[n]
                # A small listing is over within the start-up's noise: the
                # entry is repeated until as many records are listed as for
                # the largest area.
                repeats = max(1, largest // n)
                r = self.program([(area, "list", "List", "Full", "*.*",
                                   "Per File Area", "LISTING.TXT",
                                   directory)] * repeats)
                listing = (directory / "LISTING.TXT").read_bytes()
                if listing.count(b"\r\n") < n + 3:
                    raise BenchError("listing of %d records is short" % n)
                runs.setdefault((n, repeats), []).append(r)
        for (n, repeats), rs in runs.items():
            self.record("list", "Full listing (records), %d entr%s" % (
                repeats, "y" if repeats == 1 else "ies"), n, rs, "program",
                items=n * repeats)

        for n in self.sizes["move_delete"]:
            if n not in populated:
                run_import(2 * n, "import-extra")
            source, source_dir = populated.pop(n)
            target, target_dir = self.new_area("moved-%d" % n)
            r = self.program([(source, "source", "Move",
                               "Files and Records >to> %d:moved" % target,
                               "*.*", "NA", "NA", source_dir)])
            self.expect(source, 0)
            self.expect(target, n, target_dir)
            self.record("move", "move files and records", n, r, "program")
            r = self.program([(target, "moved", "Delete", "Delete and Remove",
                               "*.*", "NA", "NA", target_dir)])
            self.expect(target, 0, target_dir)
            self.record("delete", "delete and remove", n, r, "program")

    def all_files_lists(self):
        """One "All Files List" document of many small areas, one entry per
        area, in each listing mode."""
        n = self.sizes["web_areas"]
        print("All Files Lists of %d areas of %d records" % (
            n, WEB_AREA_FILES), flush=True)
        # The areas share one directory: each lists the same names.
        directory = self.areas_dir / "all-files"
        make_empty_files(directory, WEB_AREA_FILES, "W", "ZIP")
        first = self.next_area
        self.next_area += n
        subprocess.run([str(self.floor), "areas", str(self.home), str(first),
                        str(n), str(directory)], check=True)
        areas = range(first, first + n)
        self.program([(a, "fill", "Add", "Scan For New", "*.*", "NA", "NA",
                       directory) for a in areas])
        self.expect(first, WEB_AREA_FILES)
        self.expect(first + n - 1, WEB_AREA_FILES)
        # Text, the cheapest listing, first; then the web documents.
        modes = (("Single", "ALL.TXT"), ("HTML", "ALL.HTM"),
                 ("JSON", "ALL.JSON"))
        runs = {}
        for _ in range(self.repeat):
            for mode, name in modes:
                target = self.work / name
                r = self.program([(a, "all", "List", mode, "*.*",
                                   "All Files List", target, directory)
                                  for a in areas])
                self.check_all_files_list(mode, target.read_bytes(), n)
                runs.setdefault(mode, []).append(r)
        # Files added in the last 7 days: every record is, so the listing
        # is the one of all files, at the cost of the date test.
        recent = []
        for _ in range(self.repeat):
            target = self.work / "NEW.TXT"
            recent.append(self.program([(a, "all", "List", "Single", "*.*",
                                         "All Files List", target, directory,
                                         7) for a in areas]))
            if target.read_bytes() != (self.work / "ALL.TXT").read_bytes():
                raise BenchError("the listing of the last 7 days is not the "
                                 "listing of all files")
        for mode, _ in modes:
            self.record("web", "All Files List, %s (areas of %d records)" % (
                mode, WEB_AREA_FILES), n, runs[mode], "program", mode=mode,
                items=n * WEB_AREA_FILES)
        self.record("web", "All Files List, Single, added in the last 7 days",
                    n, recent, "program", mode="Single-7",
                    items=n * WEB_AREA_FILES)

    @staticmethod
    def check_all_files_list(mode, listing, areas):
        if mode == "JSON":
            shown = json.loads(listing.decode("utf-8"))["areas"]
            ok = len(shown) == areas and all(
                len(a["files"]) == WEB_AREA_FILES for a in shown)
        elif mode == "HTML":
            ok = listing.count(b"<section ") == areas and \
                listing.count(b"<td class=\"name\">") == \
                areas * WEB_AREA_FILES
        else:
            ok = listing.count(b"\r\n") == areas * (3 + WEB_AREA_FILES) + \
                areas - 1
        if not ok:
            raise BenchError("the %s All Files List of %d areas is not whole"
                             % (mode, areas))

    def responsiveness(self):
        """--large: the longest stretch without event processing, in the
        main window during one run of every action over 100,000 records,
        and in the configuration tool filling its list and opening the
        configuration of NA entries."""
        n = max(self.sizes["move_delete"])
        print("event gaps: one run over %d records; the configuration tool"
              % n, flush=True)
        imported, imported_dir = self.new_area("gaps-import")
        files, text = files_bbs_lines(2 * n)
        make_empty_files(imported_dir, files, "B", "DAT")
        with open(imported_dir / "FILES.BBS", "w", newline="") as f:
            f.write("\r\n".join(text) + "\r\n")
        scanned, scanned_dir = self.new_area("gaps-scan")
        make_empty_files(scanned_dir, n)
        moved, moved_dir = self.new_area("gaps-moved")
        entries = [
            (imported, "import", "Add", "Scan For New", "FILES.BBS", "NA",
             "NA", imported_dir),
            (scanned, "scan", "Add", "Scan For New", "*.*", "NA", "NA",
             scanned_dir),
            (imported, "list", "List", "Full", "*.*", "Per File Area",
             "LISTING.TXT", imported_dir),
            (imported, "move", "Move", "Files and Records >to> %d:moved" %
             moved, "*.*", "NA", "NA", imported_dir),
            (moved, "delete", "Delete", "Delete and Remove", "*.*", "NA",
             "NA", moved_dir)]
        cfg = self.config("gaps", entries)
        r = self.gap_run("run", cfg)
        self.expect(scanned, n)
        self.expect(imported, 0)
        self.expect(moved, 0, moved_dir)
        self.record("gaps", "main window: import, scan, list, move, delete",
                    n, r, "fixed", items=5 * n, gap_ms=r["gap_ms"],
                    gap_cpu_ms=r["gap_cpu_ms"], gap_where=r["gap_where"])
        r = self.gap_run("config", self.na_cfg)
        self.record("gaps", "configuration tool: fill from host, open",
                    self.sizes["na_entries"], r, "fixed", gap_ms=r["gap_ms"],
                    gap_cpu_ms=r["gap_cpu_ms"], gap_where=r["gap_where"])

    def gap_run(self, mode, cfg):
        r = self.runner.run([self.gaps, mode, str(self.prog) + "/", cfg],
                            env=self.env, cwd=self.work)
        m = re.search(r"max_gap_ms (\d+) passes (\d+) over_100ms (\d+) "
                      r"cpu_ms (\d+) during (.*)", r["out"])
        if not m:
            raise BenchError("bench_gaps printed no gap: %s" % r["out"])
        r["gap_ms"], r["gap_cpu_ms"] = int(m.group(1)), int(m.group(4))
        r["gap_where"] = m.group(5).strip()
        print("    longest gap %s ms (%s ms of it on the CPU, during \"%s\") "
              "in %s passes, %s over 100 ms" % (
                  m.group(1), m.group(4), r["gap_where"], m.group(2),
                  m.group(3)), flush=True)
        return r

    def na_entries(self):
        n = self.sizes["na_entries"]
        print("configuration of %d NA entries" % n, flush=True)
        first = self.next_area
        self.next_area += n
        directory = self.areas_dir / "na"
        directory.mkdir()
        subprocess.run([str(self.floor), "areas", str(self.home), str(first),
                        str(n), str(directory)], check=True)
        r = self.program([(first + i, "na", "NA", "NA", "NA", "NA", "NA",
                           directory) for i in range(n)])
        self.na_cfg = self.work / ("run%d.cfg" % self.labels)
        self.record("na", "NA entries", n, r, "program")

    def settings_extras(self, extras):
        """Puts [Extras] with the given lines into quillmar.ini (none: the
        section goes)."""
        ini = self.prog / "quillmar.ini"
        text = ini.read_text(errors="surrogateescape") if ini.exists() else ""
        text = re.sub(r"\[Extras\][^\[]*", "", text)
        if extras:
            text += "[Extras]\r\n" + "".join(l + "\r\n" for l in extras)
        ini.write_text(text, errors="surrogateescape")

    def extras(self):
        n = self.sizes["extras_files"]
        print("extras: scan-and-add of %d small files, duplicates off and "
              "refused" % n, flush=True)
        runs = {}
        for _ in range(self.repeat):
            for mode in ("off", "refuse"):
                source = self.work / ("extras-upload-%d" % self.next_area)
                source.mkdir()
                for i in range(1, n + 1):  # no two alike
                    (source / file_name("X", i, "TXT")).write_bytes(
                        b"upload %d %07d\r\n" % (self.next_area, i) * 4)
                self.settings_extras(["Duplicates=Refuse"]
                                     if mode == "refuse" else [])
                if mode == "refuse":  # the index as every night finds it
                    self.runner.run([self.prog / "quillmar", "--duplicates"],
                                    env=self.env, cwd=self.work)
                area, directory = self.new_area("extras-%s-%d" % (mode, n))
                r = self.program([(area, "extras", "Add", "Scan For New",
                                   str(source) + "/*.*", "NA", "NA",
                                   directory)])
                self.expect(area, n, directory)
                runs.setdefault(mode, []).append(r)
                shutil.rmtree(source)
        self.settings_extras([])
        for mode, rs in runs.items():
            self.record("extras", "by transfer, Duplicates=%s" % (
                "Refuse" if mode == "refuse" else "Off"), n, rs, "program",
                mode=mode)
        self.refused_folder()
        self.index_build()
        self.description_extras()

    def first_record(self, area):
        out = subprocess.run([str(self.prog / "wcserver"), "file", "list",
                              str(self.home), "--area", str(area), "--json"],
                             check=True, capture_output=True).stdout
        return json.loads(out.decode("utf-8", "replace"))[0]

    def description_extras(self):
        lines = self.sizes["dialect_lines"]
        print("extras: FILES.BBS import of %d lines, layouts Off and Auto"
              % lines, flush=True)
        runs = {}
        for _ in range(self.repeat):
            for mode in ("Off", "Auto"):
                area, directory = self.new_area("dialects-%s" % mode)
                files, text = files_bbs_lines(lines)
                make_empty_files(directory, files, "B", "DAT")
                with open(directory / "FILES.BBS", "w", newline="") as f:
                    f.write("\r\n".join(text) + "\r\n")
                self.settings_extras(["FilesBbsDialects=" + mode])
                r = self.program([(area, "dialects", "Add", "Scan For New",
                                   "FILES.BBS", "NA", "NA", directory)])
                self.expect(area, files)
                # The layout's date column is the record's date.
                dated = self.first_record(area)["time"] == \
                    "1998-01-01 00:00:00"
                if dated != (mode == "Auto"):
                    raise BenchError("FilesBbsDialects=%s: the first record "
                                     "is dated %s" % (mode, self.first_record(
                                         area)["time"]))
                runs.setdefault(mode, []).append(r)
                shutil.rmtree(directory)
        for mode, rs in runs.items():
            self.record("descriptions", "FILES.BBS import, FilesBbsDialects="
                        + mode, lines, rs, "program", mode="dialects-" + mode)

        n = self.sizes["ansi_files"]
        print("extras: scan-and-add of %d archives with an ANSI file_id.diz, "
              "Keep and Text" % n, flush=True)
        diz = b"".join(b"\x1b[1;3%dm\xdb\xdb\x1b[0;37m Bench upload line %d "
                       b"\x1b[5Cin colour\x1b[0m\r\n" % (k, k)
                       for k in range(1, 9))
        runs = {}
        for _ in range(self.repeat):
            for mode in ("Keep", "Text"):
                source = self.work / ("ansi-upload-%d" % self.next_area)
                source.mkdir()
                for i in range(1, n + 1):
                    with zipfile.ZipFile(source / file_name("A", i, "ZIP"),
                                         "w") as z:
                        z.writestr("FILE_ID.DIZ", diz)
                        z.writestr("README.TXT", b"upload %d\r\n" % i)
                self.settings_extras(["AnsiDescriptions=" + mode])
                area, directory = self.new_area("ansi-%s" % mode)
                r = self.program([(area, "ansi", "Add", "Scan For New",
                                   str(source) + "/*.*", "Extract from ZIP",
                                   "file_id.diz", directory)])
                self.expect(area, n, directory)
                if ("\x1b" in self.first_record(area)["short"]) != \
                        (mode == "Keep"):
                    raise BenchError("AnsiDescriptions=%s: escapes %s" % (
                        mode, "gone" if mode == "Keep" else "kept"))
                runs.setdefault(mode, []).append(r)
                shutil.rmtree(source)
                shutil.rmtree(directory)
        self.settings_extras([])
        for mode, rs in runs.items():
            self.record("descriptions", "scan-and-add of archives, "
                        "AnsiDescriptions=" + mode, n, rs, "program",
                        mode="ansi-" + mode)

    def refused_folder(self):
        """Uploads that the upload check (/bin/false) refuses every one,
        left where they lie against moved into a folder for them."""
        n = self.sizes["extras_files"]
        print("extras: %d uploads refused by the upload check, left and "
              "moved" % n, flush=True)
        runs = {}
        for _ in range(self.repeat):
            for mode in ("stay", "move"):
                source = self.work / ("refused-upload-%d" % self.next_area)
                folder = self.work / ("refused-%d" % self.next_area)
                source.mkdir()
                folder.mkdir()
                make_empty_files(source, n, "R")
                extras = ["UploadCheck=/bin/false %f"]
                if mode == "move":
                    extras.append("RefusedFolder=%s" % folder)
                self.settings_extras(extras)
                area, directory = self.new_area("refused-%s-%d" % (mode, n))
                self.labels += 1
                cfg = self.config("run%d" % self.labels, [
                    (area, "refused", "Add", "Scan For New",
                     str(source) + "/*.*", "NA", "NA", directory)])
                r = self.runner.run([self.prog / "quillmar", cfg],
                                    env=self.env, cwd=self.work)
                self.expect(area, 0, directory)
                moved = sum(1 for _ in folder.iterdir())
                if moved != (n if mode == "move" else 0):
                    raise BenchError("%d refused uploads moved, not %d" % (
                        moved, n if mode == "move" else 0))
                runs.setdefault(mode, []).append(r)
                shutil.rmtree(source)
                shutil.rmtree(folder)
        self.settings_extras([])
        for mode, rs in runs.items():
            self.record("extras", "all refused by the upload check, %s" % (
                "RefusedFolder set" if mode == "move" else "left in place"),
                n, rs, "program", mode="refused-" + mode)

    def index_build(self):
        """The duplicate index of 8 MiB stored files, built from nothing,
        in a program directory of its own, against sha256sum."""
        count = self.sizes["index_files"]
        total = count * BIG_FILE_SIZE
        print("extras: duplicate index of %d stored files of 8 MiB (%d MiB)"
              % (count, total // MIB), flush=True)
        prog = self.work / "index-prog"
        shutil.copytree(self.bin, prog)
        home = prog / "host"
        stored = self.work / "index-area"
        stored.mkdir()
        tool = [str(prog / "wcserver")]
        subprocess.run(tool + ["init", str(home)], check=True,
                       capture_output=True)
        subprocess.run(tool + ["area", "add", str(home), "--number", "1",
                               "--name", "index", "--path", str(stored)],
                       check=True, capture_output=True)
        block = os.urandom(BIG_FILE_SIZE)
        for i in range(1, count + 1):
            name = file_name("H", i, "BIN")
            with open(stored / name, "wb") as f:
                f.write(i.to_bytes(8, "little"))
                f.write(block[8:])
            subprocess.run(tool + ["file", "add", str(home), "--area", "1",
                                   "--name", name], check=True,
                           capture_output=True)
        files = sorted(stored.iterdir())
        hash_argv = ["sha256sum", "--"] + files
        self.runner.run(hash_argv)  # both read from the page cache
        builds, fixed, sums = [], [], []
        for _ in range(self.repeat):
            (prog / "quillmar.db").unlink(missing_ok=True)
            builds.append(self.runner.run([prog / "quillmar", "--duplicates"],
                                          env=self.env, cwd=self.work))
            fixed.append(self.runner.run([prog / "quillmar", "--duplicates"],
                                         env=self.env, cwd=self.work))
            sums.append(self.runner.run(hash_argv))
        base = median_run(fixed)
        built = median_run(builds)
        net = {"wall": built["wall"] - base["wall"],
               "cpu": built["cpu"] - base["cpu"], "rss_kb": built["rss_kb"],
               "load": built["load"]}
        self.record("index", "quillmar --duplicates, index up to date", count,
                    fixed, "fixed", key="fixed", bytes=total)
        self.record("index", "quillmar --duplicates, building the index "
                    "(less the run above)", count, net, "plain", key="build",
                    bytes=total)
        self.record("index", "sha256sum", count, sums, "plain", key="sha256sum",
                    bytes=total)
        shutil.rmtree(stored)
        shutil.rmtree(prog)

    def archive_uploads(self, kind, source, n):
        """n uploads of one kind in source, each with a FILE_ID.DIZ."""
        diz = b"An upload of some kind\r\nwith a second line\r\n"
        made = self.work / "archive-made"
        made.mkdir(exist_ok=True)
        (made / "FILE_ID.DIZ").write_bytes(diz)
        (made / "README.TXT").write_bytes(b"read me\r\n" * 200)
        if kind == "ZIP":
            import zipfile
            with zipfile.ZipFile(made / "A.ZIP", "w",
                                 zipfile.ZIP_DEFLATED) as z:
                z.write(made / "README.TXT", "README.TXT")
                z.write(made / "FILE_ID.DIZ", "FILE_ID.DIZ")
            data, ext = (made / "A.ZIP").read_bytes(), "ZIP"
        elif kind == "TXT":
            data, ext = diz, "TXT"
        elif kind == "ZOO":
            data, ext = zoo([("README.TXT", (made / "README.TXT").read_bytes()),
                             ("FILE_ID.DIZ", diz)]), "ZOO"
        else:
            program = ["arc", "a", "A.ARC"] if kind == "ARC" else \
                ["arj", "a", "-y", "A.ARJ"]
            subprocess.run(program + ["README.TXT", "FILE_ID.DIZ"],
                           cwd=made, check=True, capture_output=True)
            data = (made / ("A.ARC" if kind == "ARC" else "A.ARJ")).read_bytes()
            ext = "ARC" if kind == "ARC" else "ARJ"
            if kind == "SFX":
                data, ext = b"MZ" + bytes(510) + data, "EXE"
        for i in range(1, n + 1):
            (source / file_name("A", i, ext)).write_bytes(data)
        shutil.rmtree(made)

    def archives(self):
        n = self.sizes["archive_files"]
        kinds = (("TXT", "plain text files (no archive)"),
                 ("ZIP", "ZIP (unzip library)"),
                 ("ARJ", "ARJ (arj)"), ("ARC", "ARC (nomarch)"),
                 ("ZOO", "ZOO (lsar, unar)"),
                 ("SFX", "self-extracting ARJ .EXE (unzip, then arj)"))
        print("descriptions: scan-and-add of %d uploads of each format" % n,
              flush=True)
        self.settings_extras(["Archivers=ARJ ARC ZOO"])
        runs = {}
        for _ in range(self.repeat):
            for kind, _ in kinds:
                source = self.work / ("archives-%s-%d" % (kind, self.next_area))
                source.mkdir()
                self.archive_uploads(kind, source, n)
                area, directory = self.new_area("archives-%s" % kind)
                r = self.program([(area, "archives", "Add", "Scan For New",
                                   str(source) + "/*.*", "Extract from ZIP",
                                   "file_id.diz", directory)])
                self.expect(area, n, directory)
                runs.setdefault(kind, []).append(r)
                shutil.rmtree(source)
        self.settings_extras([])
        for kind, name in kinds:
            self.record("archives", name, n, runs[kind], "program", kind=kind)

    # ---- results ---------------------------------------------------------

    def run(self):
        started = time.perf_counter()
        self.machine = describe_machine(self.work, self.build)
        try:
            self.setup()
            self.baselines()
            if self.web_only:
                self.all_files_lists()
            elif self.archives_only:
                self.archives()
            elif not self.extras_only and not self.gaps_only:
                self.scan_add()
                if not self.large:
                    self.big_transfer()
            if not self.transfers_only and not self.gaps_only and \
                    not self.large and not self.web_only and \
                    not self.archives_only:
                self.extras()
                self.archives()
            if not self.transfers_only and not self.extras_only and \
                    not self.gaps_only and not self.web_only and \
                    not self.archives_only:
                self.records()
                if not self.large:
                    self.all_files_lists()
            if not self.transfers_only and not self.web_only and \
                    not self.archives_only:
                self.na_entries()
            if self.large:
                self.responsiveness()
        finally:
            if self.keep:
                print("work files kept in", self.work)
            else:
                shutil.rmtree(self.work, ignore_errors=True)
        self.machine["load_after"] = os.getloadavg()[0]
        self.duration = time.perf_counter() - started
        return self.summary()

    def summary(self):
        return {"machine": self.machine, "quick": self.quick,
                "large": self.large, "gaps_only": self.gaps_only,
                "transfers_only": self.transfers_only,
                "extras_only": self.extras_only,
                "web_only": self.web_only,
                "archives_only": self.archives_only,
                "repeat": self.repeat, "sizes": self.sizes,
                "date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
                "duration_s": round(self.duration, 1), "rows": self.results}


def checks(s):
    """The targets, measured on the rows of a run."""
    rows = s["rows"]
    out = []
    # A net figure near the start-up's own spread says nothing.
    fixed = [r for r in rows if r["group"] == "baseline"][0]["runs"]
    noise = 3 * max(0.05, 2 * (max(fixed) - min(fixed)))

    def find(group, **match):
        return [row for row in rows if row["group"] == group and
                all(row.get(k) == v for k, v in match.items())]

    def check(what, wall, cpu, limit, *used):
        quiet = [r for r in used if r["who"] == "program" and
                 r["net"] < noise]
        out.append({"what": what, "value": wall, "cpu": cpu, "limit": limit,
                    "unit": "x", "met": wall <= limit or bool(quiet),
                    "noise": bool(quiet)})

    def ratio(what, a, b, limit):
        check(what, a["net"] / b["net"], a["net_cpu"] / b["net_cpu"], limit,
              a, b)

    def grows(what, a, b):
        check(what, growth(a, b, "net"), growth(a, b, "net_cpu"),
              GROWTH_TARGET, a, b)

    extras = {row["mode"]: row for row in find("extras")}
    if extras:
        ratio("scan-and-add by transfer, N=%d: Duplicates=Refuse / Off" %
              extras["off"]["n"], extras["refuse"], extras["off"],
              DUPLICATES_TARGET)
        index = {row["key"]: row for row in find("index")}
        out.append({"what": "duplicate index of %d MiB: building / sha256sum"
                    % (index["build"]["bytes"] // MIB),
                    "value": index["build"]["wall"] /
                    index["sha256sum"]["wall"],
                    "cpu": index["build"]["cpu"] / index["sha256sum"]["cpu"],
                    "limit": HASH_TARGET, "unit": "x",
                    "met": index["build"]["wall"] <= HASH_TARGET *
                    index["sha256sum"]["wall"], "noise": False})
    if s.get("extras_only") or s.get("web_only") or s.get("archives_only"):
        return out

    small, large = s["sizes"]["scan"]
    modes = () if s.get("gaps_only") else \
        (("inplace", "in place"),) if s.get("large") else \
        (("inplace", "in place"), ("transfer", "by transfer"))
    for mode, text in modes:
        if s.get("large"):
            # The targets of the large areas are the program's own growth,
            # memory and event gaps; the floor's rows are for reference.
            grows("scan-and-add %s, program: growth %d -> %d" % (
                text, small, large),
                find("scan", mode=mode, who="program", n=small)[0],
                find("scan", mode=mode, who="program", n=large)[0])
            continue
        for n in (small, large):
            ratio("scan-and-add %s, N=%d: program / host-call floor" % (
                text, n), find("scan", mode=mode, who="program", n=n)[0],
                find("scan", mode=mode, who="floor", n=n)[0],
                TRANSFER_FLOOR_TARGET if mode == "transfer" else
                HOST_FLOOR_TARGET)
        for who in ("program", "floor"):
            grows("scan-and-add %s, %s: growth %d -> %d" % (
                text, "program" if who == "program" else "host-call floor",
                small, large),
                find("scan", mode=mode, who=who, n=small)[0],
                find("scan", mode=mode, who=who, n=large)[0])

    big = {row["key"]: row for row in find("big")}
    if big:
        ratio("8 MiB transfers: program / host-call floor", big["program"],
              big["floor"], HOST_FLOOR_TARGET)
        ratio("8 MiB transfers: program / (cp + fsync)", big["program"],
              big["cp_sync"], CP_TARGET)

    for group, label in (("import", "FILES.BBS import (lines)"),
                         ("list", "Full listing (records)"),
                         ("move", "move (records)"),
                         ("delete", "delete (records)")):
        ordered = sorted(find(group), key=lambda r: r["n"])
        if not ordered:
            continue  # a run of the transfers only
        grows("%s: growth %d -> %d" % (label, ordered[0]["n"],
                                       ordered[-1]["n"]),
              ordered[0], ordered[-1])

    if s.get("large"):
        heaviest = max((r for r in rows if r["who"] == "program" or
                        r["group"] == "gaps"), key=lambda r: r["rss_kb"])
        out.append({"what": "peak memory of every program run (largest: "
                    "%s, N=%d)" % (heaviest["name"], heaviest["n"]),
                    "value": heaviest["rss_kb"] / 1024.0, "cpu": None,
                    "limit": LARGE_MEMORY_MIB, "unit": "MiB",
                    "met": heaviest["rss_kb"] / 1024.0 <= LARGE_MEMORY_MIB,
                    "noise": False})
        for r in find("gaps"):
            out.append({"what": "longest time without event processing: "
                        "%s" % r["name"], "value": r["gap_ms"], "cpu": None,
                        "limit": EVENT_GAP_MS, "unit": "ms",
                        "met": r["gap_ms"] <= EVENT_GAP_MS, "noise": False})
    if not big:
        return out
    # Memory must not follow file sizes: the 8 MiB transfers against the
    # transfers of empty files.
    empty = find("scan", mode="transfer", who="program", n=small)[0]
    grown = (big["program"]["rss_kb"] - empty["rss_kb"]) / 1024.0
    out.append({"what": "peak memory: 8 MiB transfers less empty-file "
                "transfers (program)", "value": grown, "cpu": None,
                "limit": BIG_FILE_SIZE / MIB, "unit": "MiB",
                "met": grown < BIG_FILE_SIZE / MIB, "noise": False})
    return out


def growth(small_row, large_row, field):
    """Growth of a net figure divided by the growth of the work: 1.0 is
    linear."""
    return (large_row[field] / small_row[field]) / \
        (large_row["items"] / small_row["items"])


def markdown(s):
    m = s["machine"]
    out = []
    w = out.append
    w("Run of %s: %s sizes, %d round%s of the repeatable measurements, "
      "%.0f s in all; data on %s." % (
          s["date"], "quick" if s["quick"] else
          "large" if s.get("large") else "full", s["repeat"],
          "" if s["repeat"] == 1 else "s (median kept)", s["duration_s"],
          m.get("disk", "?")))
    w("")
    w("| machine | |")
    w("|---|---|")
    w("| CPU | %s, %d cores |" % (m.get("cpu", "?"), m.get("cpus") or 0))
    w("| memory | %s GiB |" % m.get("memory_gib", "?"))
    w("| disk | %s |" % m.get("disk", "?"))
    w("| system | %s, kernel %s |" % (m.get("os", "?"), m.get("kernel", "?")))
    w("| compiler | %s, %s build |" % (m.get("compiler", "?"),
                                      m.get("build_type", "?")))
    w("| load average (1 min) before / after | %.2f / %.2f |" % (
        m.get("load_before", 0), m.get("load_after", 0)))
    w("")
    rows = s["rows"]

    def table(title, group_rows, per_label):
        w("**%s**" % title)
        w("")
        w("| run | N | wall s | net s | %s | CPU s | peak MiB | load |" %
          per_label)
        w("|---|---:|---:|---:|---:|---:|---:|---:|")
        for r in group_rows:
            w("| %s | %d | %.3f | %.3f | %.3f | %.2f | %.1f | %.1f |" % (
                r["name"], r["n"], r["wall"], r["net"],
                r["net"] / r["items"] * 1000.0, r["cpu"],
                r["rss_kb"] / 1024.0, r["load"]))
        w("")

    table("Fixed costs (median of %d runs)" % BASELINE_REPEATS,
          [r for r in rows if r["group"] == "baseline"], "ms")
    if not s.get("extras_only") and not s.get("web_only") and \
            not s.get("archives_only"):
        table("Scan-and-add of N new empty files into one area",
              [r for r in rows if r["group"] == "scan"], "net ms per file")
    big = [r for r in rows if r["group"] == "big"]
    if big:
        w("**Transfer of %d files of 8 MiB (%d MiB)**" % (
            big[0]["n"], big[0]["bytes"] // MIB))
        w("")
        w("| run | wall s | net s | MiB/s | net ms per file | CPU s | "
          "peak MiB | load |")
        w("|---|---:|---:|---:|---:|---:|---:|---:|")
        for r in big:
            w("| %s | %.3f | %.3f | %.0f | %.1f | %.2f | %.1f | %.1f |" % (
                r["name"], r["wall"], r["net"], r["bytes"] / MIB / r["net"],
                r["net"] / r["n"] * 1000.0, r["cpu"], r["rss_kb"] / 1024.0,
                r["load"]))
        w("")
    extras_rows = [r for r in rows if r["group"] in ("extras", "index")]
    if extras_rows:
        table("Extras: scan-and-add of N small files of distinct content by "
              "transfer; the duplicate index of N stored files of 8 MiB",
              extras_rows, "net ms per file")
    described = {r["mode"]: r for r in rows if r["group"] == "descriptions"}
    if described:
        table("Extras: FILES.BBS import of N lines in the size and date "
              "layout; scan-and-add of N archives with an ANSI file_id.diz",
              list(described.values()), "net ms per item")
        for what, on, off, per in (
                ("FILES.BBS line, Auto less Off", "dialects-Auto",
                 "dialects-Off", "line"),
                ("ANSI description, Text less Keep", "ansi-Text",
                 "ansi-Keep", "description")):
            a, b = described[on], described[off]
            w("- %s: %+.1f \u00b5s per %s of wall time (%.2fx), %+.1f \u00b5s "
              "of CPU time (%.2fx)" % (
                  what, (a["net"] - b["net"]) / a["items"] * 1e6, per,
                  a["net"] / b["net"],
                  (a["net_cpu"] - b["net_cpu"]) / a["items"] * 1e6,
                  a["net_cpu"] / b["net_cpu"]))
        w("")
    archives = [r for r in rows if r["group"] == "archives"]
    if archives:
        plain = archives[0]
        w("**Descriptions from archives: scan-and-add by transfer of N "
          "uploads of one format, file_id.diz (net of the fixed costs)**")
        w("")
        w("| upload | N | median ms per upload | worst ms per upload | "
          "reading it, ms per upload | peak MiB | load |")
        w("|---|---:|---:|---:|---:|---:|---:|")
        for r in archives:
            worst = (max(r["runs"]) - (r["wall"] - r["net"])) / r["n"] * 1000
            w("| %s | %d | %.2f | %.2f | %s | %.1f | %.1f |" % (
                r["name"], r["n"], r["net"] / r["n"] * 1000.0, worst,
                "-" if r is plain else "%.2f" % (
                    (r["net"] - plain["net"]) / r["n"] * 1000.0),
                r["rss_kb"] / 1024.0, r["load"]))
        w("")
    if s.get("archives_only"):
        return "\n".join(out)
    table("FILES.BBS import, Full listing, move, delete (N: lines for the "
          "import, records otherwise)",
          [r for r in rows if r["group"] in
           ("import", "import-extra", "list", "move", "delete")],
          "net ms per item")
    web = [r for r in rows if r["group"] == "web"]
    if web:
        table("All Files List of N areas, one entry per area",
              web, "net ms per record")
    table("Configuration of NA entries",
          [r for r in rows if r["group"] == "na"], "net ms per entry")
    gaps = [r for r in rows if r["group"] == "gaps"]
    if gaps:
        w("**Event processing** (bench_gaps: the longest time between two "
          "passes of the event loop)")
        w("")
        w("| run | N | wall s | CPU s | peak MiB | longest gap ms | "
          "CPU ms in it | shown then |")
        w("|---|---:|---:|---:|---:|---:|---:|---|")
        for r in gaps:
            w("| %s | %d | %.3f | %.2f | %.1f | %d | %s | %s |" % (
                r["name"], r["n"], r["wall"], r["cpu"],
                r["rss_kb"] / 1024.0, r["gap_ms"],
                r.get("gap_cpu_ms", ""), r.get("gap_where", "")))
        w("")
    w("**Targets** (verdict on wall time; the CPU column gives the same "
      "measure on CPU time alone; \"below noise\" when a program run's net "
      "time is under 0.15 s or six times the spread of the fixed-cost "
      "runs)")
    w("")
    w("| measure | wall | CPU | target | |")
    w("|---|---:|---:|---:|---|")
    for c in checks(s):
        w("| %s | %.2f %s | %s | <= %.2f %s | %s |" % (
            c["what"], c["value"], c["unit"],
            "" if c["cpu"] is None else "%.2f %s" % (c["cpu"], c["unit"]),
            c["limit"], c["unit"],
            "below noise" if c["noise"] else
            "met" if c["met"] else "**missed**"))
    w("")
    return "\n".join(out)


def update_doc(s, text):
    """Rewrites the section of the run's kind: "memory" for a run on
    tmpfs, "disk" otherwise."""
    kind = "memory" if s["machine"].get("disk", "").startswith("tmpfs") \
        else "disk"
    if s.get("large"):
        kind = "large-" + kind
    begin, end = MARK % (kind, "begin"), MARK % (kind, "end")
    doc = DOC.read_text() if DOC.exists() else ""
    if begin not in doc or end not in doc:
        raise BenchError("%s has no %s results section" % (DOC, kind))
    head, rest = doc.split(begin, 1)
    tail = rest.split(end, 1)[1]
    DOC.write_text(head + begin + "\n" + text + "\n" + end + tail)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=str(ROOT / "build"),
                        help="CMake build directory (default: build)")
    sizes = parser.add_mutually_exclusive_group()
    sizes.add_argument("--quick", action="store_true",
                       help="small sizes only")
    sizes.add_argument("--large", action="store_true",
                       help="areas of 10,000 and 100,000 records, memory "
                       "and event gaps")
    parser.add_argument("--repeat", type=int, default=0,
                        help="rounds of the repeatable measurements "
                        "(default 3; 1 with --large)")
    parser.add_argument("--transfers-only", action="store_true",
                        help="only the fixed costs, scan-and-add and the "
                        "8 MiB transfers")
    parser.add_argument("--extras-only", action="store_true",
                        help="only the fixed costs and the extras")
    parser.add_argument("--web-only", action="store_true",
                        help="only the fixed costs and the All Files Lists "
                        "of many small areas")
    parser.add_argument("--archives-only", action="store_true",
                        help="only the fixed costs and the descriptions "
                        "from archives")
    parser.add_argument("--gaps-only", action="store_true",
                        help="with --large: only the fixed costs, the NA "
                        "entries and the event gaps")
    parser.add_argument("--work", help="parent of the temporary directory")
    parser.add_argument("--keep", action="store_true",
                        help="keep the temporary directory")
    parser.add_argument("--json", help="write the results as JSON here")
    parser.add_argument("--report", metavar="JSON",
                        help="no run: show the results a --json file holds")
    parser.add_argument("--update-doc", action="store_true",
                        help="rewrite the results section of "
                        "docs/BENCHMARKS.md")
    args = parser.parse_args()
    try:
        if args.report:
            s = json.loads(Path(args.report).read_text())
        else:
            bench = Bench(args)
            print("work directory", bench.work, flush=True)
            s = bench.run()
        text = markdown(s)
        print()
        print(text)
        if args.json:
            Path(args.json).write_text(json.dumps(s, indent=2))
        if args.update_doc:
            if s["quick"] or s.get("transfers_only") or \
                    s.get("extras_only") or s.get("gaps_only") or \
                    s.get("web_only") or s.get("archives_only"):
                raise BenchError("quick runs are not written into %s" % DOC)
            update_doc(s, text)
            print("updated", DOC)
    except BenchError as e:
        print("bench: %s" % e, file=sys.stderr)
        return 1
    return 0 if all(c["met"] for c in checks(s)) else 3


if __name__ == "__main__":
    sys.exit(main())
