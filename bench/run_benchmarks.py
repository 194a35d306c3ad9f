#!/usr/bin/env python3
"""Runs every benchmark and prints one table: each piece of work against a
baseline measured in the same run, how its cost grows with size, the peak
memory of whole runs, and the settings-file step against crudini."""

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

# name, our benchmark, its baseline, target ratio, unit of the size
PAIRS = [
    ("stamp 100,000 records", "BM_StampCompanyFile", "BM_StampBaseline", 1.15, "records"),
    ("-d step, 5 MB settings file", "BM_DatabaseStep", "BM_DatabaseStepBaseline", 2.0, "bytes"),
    ("write step, 100,000-value store", "BM_WriteStep", "BM_WriteStepBaseline", 2.0, "values"),
]
SIZES = {"BM_StampCompanyFile": [100, 1000, 10000, 100000],
         "BM_DatabaseStep": [5000, 50000, 500000, 5000000],
         "BM_WriteStep": [100, 1000, 10000, 100000]}


def run_google_benchmark(binary, quick):
    names = "|".join(f"{ours}|{base}" for _, ours, base, _, _ in PAIRS)
    sizes = {s for sizes in SIZES.values() for s in (sizes[:1] if quick else sizes)}
    pattern = f"^({names})/({'|'.join(map(str, sorted(sizes)))})$"
    args = [str(binary), f"--benchmark_filter={pattern}", "--benchmark_format=json"]
    if quick:
        args.append("--benchmark_min_time=0.001")
    else:
        args += ["--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"]
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


def memory_runs(program, quick):
    """Peak memory of whole runs on the largest files."""
    sys.path.insert(0, str(ROOT / "bench"))
    from bench_data import registry_store, settings_file  # noqa: E402
    size = 50000 if quick else 5000000
    values = 1000 if quick else 100000
    rows = []
    with tempfile.TemporaryDirectory() as scratch:
        root = pathlib.Path(scratch)
        (root / "drives/f:/kova").mkdir(parents=True)
        settings = root / "drives/f:/kova/kelvarini.dat"
        settings.write_bytes(settings_file(size))
        store = root / "registry.reg"
        store.write_bytes(registry_store(values))
        env = dict(os.environ, VENDREL_REGISTRY=str(store), VENDREL_DRIVES=str(root / "drives"))
        _, kib = wait_rusage([program, "F", "-v6", "-dclinic"], env=env)
        largest = max(settings.stat().st_size, store.stat().st_size)
        rows.append(("whole run, -d on the largest files", kib, largest))
        crudini = shutil.which("crudini")
        ours_time, _ = wait_rusage([program, "F", "-v6", "-dclinic"], env=env)
        theirs = None
        if crudini:
            settings.write_bytes(settings_file(size))
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
    print(f"{'work':40} {'ours':>10} {'baseline':>10} {'ratio':>7} {'target':>7}  growth per x10")
    failures = 0
    for label, ours, base, target, unit in PAIRS:
        sizes = [s for s in SIZES[ours] if (ours, s) in times]
        top = sizes[-1]
        ratio = times[(ours, top)] / times[(base, top)]
        steps = [times[(ours, b)] / times[(ours, a)] for a, b in zip(sizes, sizes[1:])]
        ok = options.quick or ratio <= target
        failures += not ok
        growth = " ".join(f"{g:.1f}" for g in steps) or "-"
        print(f"{label if not options.quick else f'{label} (at {top} {unit})':40} "
              f"{times[(ours, top)] * 1e3:8.1f}ms {times[(base, top)] * 1e3:8.1f}ms "
              f"{ratio:6.2f}x {target:6.2f}x  {growth}{'' if ok else '  OVER TARGET'}")

    ours, floor = sample_run(program, 3 if options.quick else 20)
    print(f"{'whole run on the sample installation':40} {ours * 1e3:8.1f}ms {floor * 1e3:8.1f}ms "
          f"{ours / floor:6.2f}x {'-':>7}  (baseline: /bin/true)")

    rows, ours_d, crudini, size = memory_runs(program, options.quick)
    for label, kib, largest in rows:
        limit = 2 * largest / 1024 + 8 * 1024
        ok = options.quick or kib <= limit
        failures += not ok
        print(f"{label:40} peak {kib / 1024:6.1f} MiB, largest file {largest / 2**20:.1f} MiB, "
              f"limit {limit / 1024:.1f} MiB{'' if ok else '  OVER LIMIT'}")
    if crudini is not None:
        print(f"{'-d run vs crudini (1 set + 4 deletes)':40} {ours_d * 1e3:8.1f}ms "
              f"{crudini * 1e3:8.1f}ms {ours_d / crudini:6.2f}x {'-':>7}  "
              f"({size} byte settings file)")
    else:
        print("crudini: not installed (apt-get install crudini), comparison left out")
    print(f"benchmarks: {3 - failures if not options.quick else 3} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
