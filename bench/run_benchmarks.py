#!/usr/bin/env python3
"""Runs every benchmark and prints one table: each piece of work against a
baseline measured in the same run, how its cost grows with size, the peak
memory of whole runs, the settings-file step against crudini, and whole
runs on hives against the hive editors users would pick instead."""

import argparse
import json
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

# name, our benchmark, its floor, target ratio, unit of the size. The floor
# of a file change is a durable rewrite per change (read whole, write a
# copy, flush it, rename it, flush the folder); that of the stamp is a size
# query, a positioned read and write per record and its line in 128-byte
# blocks.
PAIRS = [
    ("stamp 100,000 records", "BM_StampCompanyFile", "BM_StampBaseline", 1.10, "records"),
    ("-d step, 5 MB settings, 40-key sections", "BM_DatabaseStep", "BM_DatabaseStepBaseline",
     1.5, "bytes"),
    ("-d step, 5 MB settings, 150,000 short lines", "BM_DatabaseStepSmallSections",
     "BM_DatabaseStepSmallSectionsBaseline", 1.5, "bytes"),
    ("write step, 100,000 values in 100-value keys", "BM_WriteStep", "BM_WriteStepBaseline", 1.5,
     "values"),
    ("write step, 100,000 values in 10,000 keys", "BM_WriteStepSmallKeys",
     "BM_WriteStepSmallKeysBaseline", 1.5, "values"),
    ("write step, product key of 100,000 values", "BM_WriteStepProductKey",
     "BM_WriteStepProductKeyBaseline", 1.5, "values"),
    ("write step, 30 MB SOFTWARE hive", "BM_HiveWriteStep", "BM_HiveWriteStepBaseline", 2.0,
     "values"),
]
RECORDS = [100, 1000, 10000, 100000]
BYTES = [5000, 50000, 500000, 5000000]
SIZES = {"BM_StampCompanyFile": RECORDS, "BM_DatabaseStep": BYTES,
         "BM_DatabaseStepSmallSections": BYTES, "BM_WriteStep": RECORDS,
         "BM_WriteStepSmallKeys": RECORDS, "BM_WriteStepProductKey": RECORDS,
         "BM_HiveWriteStep": [300, 3000, 30000, 300000]}
# Generated SOFTWARE hives (bench_data.software_hive_plan): about 1 MB and
# 64 MB (real ones are often 50 to 150 MB), and the 1 MB one padded with free
# bins to 512 MB (a sparse file): an edit costs what its key's path costs.
HIVES = [("1 MB", 10000, None), ("64 MB", 690000, None), ("512 MB", 10000, 512 << 20)]
HIVE_ROUNDS = 5
# What the 64 MB edit may cost against each peer, the 512 MB edit against
# the 1 MB one, and the most memory any of them may take.
HIVE_TARGETS = {"hivexsh": 0.1, "reged": 0.2}
SIZE_TARGET = 1.5
HIVE_PEAK_LIMIT_MIB = 16
# The dirty hive keeps every 21st page of its bins in its log (about 3 MB of
# a 64 MB hive), or every 210th: its run writes those pages into the hive,
# so its cost follows its log. It may take half as long again as the clean
# copy's.
DIRTY_STRIDES = (21, 210)
DIRTY_TARGET = 1.5
# The product-key edit of a write step, as each peer takes it.
HIVEXSH_EDIT = ("cd \\Tarvel Global\nsetval 4\nDrive\nstring:F:\nInstPath\nstring:F:\\KOVA32\n"
                "LocalDrive\nstring:F:\nPracticeRelief\nstring:\ncommit\n")
REGED_EDIT = ('Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvel Global]'
              '\r\n"Drive"="F:"\r\n"InstPath"="F:\\\\KOVA32"\r\n"LocalDrive"="F:"\r\n'
              '"PracticeRelief"=""\r\n')
GROWTH_LIMIT = 11.0  # tenfold more work may cost at most this many times more
REPETITIONS = 7
SMALL_RUN_TARGET = 1.5


def run_google_benchmark(binary, quick, pairs=PAIRS):
    names = "|".join(f"{ours}|{base}" for _, ours, base, _, _ in pairs)
    sizes = {s for _, ours, _, _, _ in pairs for s in (SIZES[ours][:1] if quick else SIZES[ours])}
    pattern = f"^({names})/({'|'.join(map(str, sorted(sizes)))})$"
    args = [str(binary), f"--benchmark_filter={pattern}", "--benchmark_format=json"]
    if quick:
        args.append("--benchmark_min_time=0.001")
    else:
        # Repetitions of every benchmark in a random order, so that no piece
        # of work always follows another. A repetition of the largest sizes
        # is a single pass, after one unmeasured pass that touches the
        # memory it needs: on a virtual machine a page the guest has never
        # used costs the host a fault, and that is not the work measured.
        args += [f"--benchmark_repetitions={REPETITIONS}", "--benchmark_report_aggregates_only=true",
                 "--benchmark_enable_random_interleaving=true", "--benchmark_min_time=0.1",
                 "--benchmark_min_warmup_time=0.01"]
    with tempfile.TemporaryDirectory(dir=binary.parent) as scratch:
        out = subprocess.run(args, check=True, capture_output=True, cwd=scratch).stdout
    times = {}
    for entry in json.loads(out)["benchmarks"]:
        if entry.get("aggregate_name", "median") != "median":
            continue
        name, size = entry["run_name"].split("/")
        times[(name, int(size))] = entry["real_time"] * {"ms": 1e-3, "us": 1e-6, "ns": 1e-9}[
            entry["time_unit"]]
    return times


def judge(pair, times, quick):
    """The ratio at the largest size, the growth per tenfold step, and what
    is over its limit."""
    _, ours, base, target, _ = pair
    sizes = [s for s in SIZES[ours] if (ours, s) in times]
    top = sizes[-1]
    ratio = times[(ours, top)] / times[(base, top)]
    steps = [times[(ours, b)] / times[(ours, a)] for a, b in zip(sizes, sizes[1:])]
    over = [] if quick else (
        (["OVER TARGET"] if ratio > target else []) +
        (["GROWTH OVER 11"] if any(g > GROWTH_LIMIT for g in steps) else []))
    return top, ratio, steps, over


def wait_rusage(args, **kwargs):
    """Runs a command; returns its wall time and peak memory in KiB. GNU time
    measures the memory: a child forked from Python would count Python's."""
    start = time.perf_counter()
    with tempfile.NamedTemporaryFile() as report:
        subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M"] + args, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, **kwargs)
        elapsed = time.perf_counter() - start
        return elapsed, int(pathlib.Path(report.name).read_text().split()[-1])


def sample_run(program, rounds):
    """The whole program on the bundled sample installation, against starting
    a process that does nothing."""
    ours, floor = [], []
    for _ in range(rounds):
        with tempfile.TemporaryDirectory() as scratch:
            shutil.copytree(ROOT / "examples/sample", pathlib.Path(scratch) / "sample")
            env = dict(os.environ, VENDREL_REGISTRY=f"{scratch}/sample/registry.reg",
                       VENDREL_DRIVES=f"{scratch}/sample/drives")
            start = time.perf_counter()
            subprocess.run([program, "F", "-v6/7", "-w2.10", "-dclinic"], env=env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
            ours.append(time.perf_counter() - start)
        start = time.perf_counter()
        subprocess.run(["/bin/true"], check=True)
        floor.append(time.perf_counter() - start)
    return statistics.median(ours), statistics.median(floor)


def settle(path):
    """The file on the disk before a clock starts, so that writing it back is
    not charged to whoever runs next."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def timed_rounds(commands, fresh, rounds):
    """Median wall time of each command over rounds, each run on a fresh copy
    of its file (made by fresh, not timed); the commands take turns in each
    round, starting one further each time, so none always follows another."""
    times = {name: [] for name in commands}
    names = list(commands)
    for round_ in range(rounds):
        for name in names[round_ % len(names):] + names[:round_ % len(names)]:
            args, kwargs = fresh(name)
            start = time.perf_counter()
            done = subprocess.run(args, stdout=subprocess.DEVNULL, **kwargs)
            times[name].append(time.perf_counter() - start)
            # reged ends with 2 when it saved a changed hive.
            if done.returncode not in ((0, 2) if name == "reged" else (0,)):
                raise subprocess.CalledProcessError(done.returncode, args)
    return {name: statistics.median(spent) for name, spent in times.items()}


def hive_runs(build, program, quick):
    """The write step (a run with -v6/7 on HKEY_LOCAL_MACHINE in a SOFTWARE
    hive) against hivexsh and reged making the same four-value edit, and
    against one durable rewrite of the hive, on each generated hive, with
    each run's peak memory. Neither peer flushes anything."""
    sys.path.insert(0, str(ROOT / "bench"))
    import bench_data  # noqa: E402
    peers = {"hivexsh": shutil.which("hivexsh"), "reged": shutil.which("reged")}
    rewrite = str(build / "bench/durable_rewrite")
    rows, peak, ours_by_size = [], [], {}
    hives = [("quick", 2000, None)] if quick else HIVES
    with tempfile.TemporaryDirectory(dir=build) as scratch:
        root = pathlib.Path(scratch)
        (root / "drives/f:").mkdir(parents=True)
        (root / "edit.hivexsh").write_text(HIVEXSH_EDIT)
        (root / "edit.reg").write_bytes(REGED_EDIT.encode())
        made, hive = root / "made", root / "SOFTWARE"
        env = dict(os.environ, VENDREL_HKLM_HIVE=str(hive), VENDREL_DRIVES=str(root / "drives"),
                   VENDREL_REGISTRY=str(root / "none.reg"))
        ours = ([program, "F", "-v6/7"], {"env": env, "input": b"\r\n"})
        commands = {"vendrel": ours, "rewrite": ([rewrite, str(hive)], {})}
        if peers["hivexsh"]:
            commands["hivexsh"] = ([peers["hivexsh"], "-w", "-f", str(root / "edit.hivexsh"),
                                    str(hive)], {})
        if peers["reged"]:
            commands["reged"] = ([peers["reged"], "-I", "-C", str(hive),
                                  "HKEY_LOCAL_MACHINE\\SOFTWARE", str(root / "edit.reg")], {})

        def fresh(name):
            # A sparse hive stays sparse; its log goes, as a clean disk's would be.
            subprocess.run(["cp", "--sparse=always", str(made), str(hive)], check=True)
            (root / "SOFTWARE.LOG1").unlink(missing_ok=True)
            settle(hive)
            return commands[name]

        for label, values, padded in hives:
            subprocess.run([str(build / "tests/make_hive"), str(made)],
                           input=bench_data.software_hive_plan(values), check=True)
            if padded:
                bench_data.pad_hive(made, padded)
            times = timed_rounds(commands, fresh, 1 if quick else HIVE_ROUNDS)
            ours_by_size[label] = times["vendrel"]
            size = f"{label} hive ({made.stat().st_size / 2**20:.0f} MiB)"
            for peer in ("hivexsh", "reged", "rewrite"):
                target = HIVE_TARGETS.get(peer) if label == "64 MB" else None
                against = "one durable rewrite" if peer == "rewrite" else peer
                rows.append((f"write step, {size} vs {against}", times["vendrel"],
                             times.get(peer), target))
            fresh("vendrel")
            _, kib = wait_rusage(ours[0], env=env)
            peak.append((f"whole run, -v6/7, {size}", kib, made.stat().st_size))
            if label == "64 MB":
                for stride in DIRTY_STRIDES:
                    rows.append(dirty_hive_run(build, root, made, values, ours, quick, peak,
                                               stride))
        if "512 MB" in ours_by_size:
            rows.append(("write step, 512 MB hive vs 1 MB hive", ours_by_size["512 MB"],
                         ours_by_size["1 MB"], SIZE_TARGET))
    return rows, peak, [name for name, path in peers.items() if not path]


def dirty_hive_run(build, root, made, values, ours, quick, peak, stride):
    """The same write step on the hive left dirty, with some of its pages in
    its log (every stride-th page), against the run on its reconciled, clean
    copy; and the dirty run's peak memory."""
    sys.path.insert(0, str(ROOT / "bench"))
    import bench_data  # noqa: E402
    dirty = root / f"dirty{stride}"
    dirty.mkdir()
    subprocess.run([str(build / "tests/make_hive"), str(dirty / "SOFTWARE")],
                   input=bench_data.software_hive_plan(values)
                   + f"stale {stride} SOFTWARE.LOG1\n".encode(), check=True)
    hive, log = root / "SOFTWARE", root / "SOFTWARE.LOG1"
    commands = {"dirty": ours, "clean": ours}

    def fresh(name):
        shutil.copyfile(dirty / "SOFTWARE" if name == "dirty" else made, hive)
        if name == "dirty":
            shutil.copyfile(dirty / "SOFTWARE.LOG1", log)
        else:
            log.unlink(missing_ok=True)
        settle(hive)
        return commands[name]

    times = timed_rounds(commands, fresh, 1 if quick else HIVE_ROUNDS)
    fresh("dirty")
    _, kib = wait_rusage(ours[0], env=ours[1]["env"])
    logged = (dirty / "SOFTWARE.LOG1").stat().st_size
    peak.append((f"whole run, -v6/7, dirty hive ({logged / 2**20:.1f} MiB log)", kib,
                 made.stat().st_size))
    return (f"write step, dirty hive ({logged / 2**20:.1f} MiB log) vs its clean copy",
            times["dirty"], times["clean"], DIRTY_TARGET)


def small_run(build, program, rounds):
    """A run that changes only the registry (-v6/7 on the sample's REGEDIT4
    store), against a process making one durable rewrite of that store."""
    with tempfile.TemporaryDirectory(dir=build) as scratch:
        root = pathlib.Path(scratch)
        shutil.copytree(ROOT / "examples/sample", root / "sample")
        store = root / "sample/registry.reg"
        made = root / "made.reg"
        shutil.copyfile(store, made)
        env = dict(os.environ, VENDREL_REGISTRY=str(store),
                   VENDREL_DRIVES=str(root / "sample/drives"))
        commands = {"vendrel": ([program, "F", "-v6/7"], {"env": env, "input": b"\r\n"}),
                    "rewrite": ([str(build / "bench/durable_rewrite"), str(store)], {})}

        def fresh(name):
            shutil.copyfile(made, store)
            settle(store)
            return commands[name]

        times = timed_rounds(commands, fresh, rounds)
    return times["vendrel"], times["rewrite"]


def memory_runs(program, quick):
    """Peak memory of whole runs (-d) on the largest files of each shape, and
    the -d run against crudini doing the same five changes."""
    sys.path.insert(0, str(ROOT / "bench"))
    import bench_data  # noqa: E402
    size = 50000 if quick else 5000000
    values = 1000 if quick else 100000
    shapes = [
        ("40-key sections, 100-value keys", bench_data.settings_file(size),
         bench_data.registry_store(values, 100)),
        ("short lines, 10-value keys", bench_data.settings_file_of_small_sections(size),
         bench_data.registry_store(values, 10)),
        ("40-key sections, product key of 100,000", bench_data.settings_file(size),
         bench_data.product_key_store(values)),
    ]
    rows = []
    ours_time = theirs = None
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        (root / "drives/f:/kova").mkdir(parents=True)
        settings = root / "drives/f:/kova/kelvarini.dat"
        store = root / "registry.reg"
        env = dict(os.environ, VENDREL_REGISTRY=str(store), VENDREL_DRIVES=str(root / "drives"))
        for label, settings_text, store_text in shapes:
            settings.write_bytes(settings_text)
            store.write_bytes(store_text)
            elapsed, kib = wait_rusage([program, "F", "-v6", "-dclinic"], env=env)
            ours_time = ours_time if ours_time is not None else elapsed
            rows.append((f"whole run, -d, {label}", kib, max(len(settings_text), len(store_text))))
        crudini = shutil.which("crudini")
        if crudini:
            settings.write_bytes(shapes[0][1])
            start = time.perf_counter()
            subprocess.run([crudini, "--set", str(settings), "POSTGRES_SERVER", "database", "x"],
                           check=True)
            for key in ("langver", "util_ver", "fileupdates_ver", "ccffl"):
                subprocess.run([crudini, "--del", str(settings), "POSTGRES_SERVER", key],
                               check=True)
            theirs = time.perf_counter() - start
    return rows, ours_time, theirs, size


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=str(ROOT / "build/linux"))
    parser.add_argument("--quick", action="store_true", help="smallest sizes, one run each")
    options = parser.parse_args()
    build = pathlib.Path(options.build)
    program = str(build / "app/vendrel")
    times = run_google_benchmark(build / "bench/vendrel_benchmarks", options.quick)

    print(f"machine: {platform.machine()}, {os.cpu_count()} cores, {platform.platform()}")
    print(f"medians of {1 if options.quick else REPETITIONS} runs, ratios against the floor "
          f"measured in the same run")
    print(f"{'work':64} {'ours':>9} {'floor':>9} {'ratio':>6} {'target':>6}  growth per x10")
    # A disk that stalls for a moment can spoil the medians of one piece of
    # work; what fails is measured once more, and only a second failure
    # counts.
    failing = [pair for pair in PAIRS if judge(pair, times, options.quick)[3]]
    for pair in failing:
        _, ratio, steps, over = judge(pair, times, False)
        print(f"measured again: {pair[0]} (first {ratio:.2f}x, growth "
              f"{' '.join(f'{g:.1f}' for g in steps)}: {', '.join(over).lower()})")
    if failing:
        times.update(run_google_benchmark(build / "bench/vendrel_benchmarks", False, failing))
    failures = checks = 0
    for pair in PAIRS:
        label, ours, base, target, unit = pair
        top, ratio, steps, over = judge(pair, times, options.quick)
        checks += 1
        failures += bool(over)
        growth = " ".join(f"{g:.1f}" for g in steps) or "-"
        name = label if not options.quick else f"{label}: at {top} {unit}"
        again = "  (measured twice)" if pair in failing else ""
        print(f"{name:64} {times[(ours, top)] * 1e3:7.1f}ms {times[(base, top)] * 1e3:7.1f}ms "
              f"{ratio:5.2f}x {target:5.2f}x  {growth}{''.join('  ' + o for o in over)}{again}")

    ours, floor = sample_run(program, 3 if options.quick else 20)
    print(f"{'whole run on the sample installation':64} {ours * 1e3:7.1f}ms {floor * 1e3:7.1f}ms "
          f"{ours / floor:5.2f}x {'-':>6}  (floor: /bin/true)")

    ours, floor = small_run(build, program, 3 if options.quick else 20)
    over = not options.quick and ours / floor > SMALL_RUN_TARGET
    checks += 1
    failures += over
    print(f"{'small run (-v6/7, sample store) vs one durable rewrite of it':64} "
          f"{ours * 1e3:7.1f}ms {floor * 1e3:7.1f}ms {ours / floor:5.2f}x "
          f"{SMALL_RUN_TARGET:5.2f}x{'  OVER TARGET' if over else ''}")

    rows, peak, missing = hive_runs(build, program, options.quick)
    for label, ours, theirs, target in rows:
        if theirs is None:
            continue
        over = target is not None and not options.quick and ours / theirs > target
        checks += target is not None
        failures += over
        shown = f"{target:5.2f}x" if target is not None else f"{'-':>6}"
        print(f"{label:64} {ours * 1e3:7.1f}ms {theirs * 1e3:7.1f}ms {ours / theirs:5.2f}x "
              f"{shown}{'  OVER TARGET' if over else ''}")
    for name in missing:
        print(f"{name}: not installed (scripts/install-deps.sh bench), comparison left out")
    for label, kib, largest in peak or []:
        over = not options.quick and kib / 1024 > HIVE_PEAK_LIMIT_MIB
        checks += 1
        failures += over
        print(f"{label:64} peak {kib / 1024:5.1f} MiB, hive {largest / 2**20:.1f} MiB, "
              f"limit {HIVE_PEAK_LIMIT_MIB} MiB{'  OVER LIMIT' if over else ''}")

    rows, ours_d, crudini, size = memory_runs(program, options.quick)
    for label, kib, largest in rows:
        limit = 2 * largest / 1024 + 8 * 1024
        ok = options.quick or kib <= limit
        checks += 1
        failures += not ok
        print(f"{label:64} peak {kib / 1024:5.1f} MiB, largest file {largest / 2**20:.1f} MiB, "
              f"limit {limit / 1024:.1f} MiB{'' if ok else '  OVER LIMIT'}")
    if crudini is not None:
        print(f"{'-d run vs crudini (1 set + 4 deletes)':64} {ours_d * 1e3:7.1f}ms "
              f"{crudini * 1e3:7.1f}ms {ours_d / crudini:5.2f}x {'-':>6}  "
              f"({size} byte settings file)")
    else:
        print("crudini: not installed (apt-get install crudini), comparison left out")
    print(f"benchmarks: {checks - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
