#!/usr/bin/python3
"""The Dask runner on a local cluster of two worker processes against
corvexa-scan -j 2 on the same file list, in one run.

    dask_bench.py CORVEXA_SCAN CORVEXA_DASK_PY FILE_LIST RUNS
"""

import subprocess
import sys
import time


def best_interleaved(runs, *commands):
    """Best wall-clock seconds of each command, the commands run in turn so
    that all meet the same load of the machine."""
    best = [None] * len(commands)
    for _ in range(runs):
        for k, args in enumerate(commands):
            t0 = time.perf_counter()
            subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            t = time.perf_counter() - t0
            best[k] = t if best[k] is None or t < best[k] else best[k]
    return best


def main():
    scan, runner, listing, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    from distributed import Client, LocalCluster

    with open(listing, "rb") as f:
        nfiles = sum(1 for line in f if line.strip())
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                           host="127.0.0.1", dashboard_address=None)
    client = Client(cluster)
    try:
        dask_args = [sys.executable, runner, "--scheduler", cluster.scheduler_address,
                     "--files-from", listing, "--scan", scan]
        one_args = [scan, "--quiet", "-j", "2", "--files-from", listing]
        same = (subprocess.run(dask_args, capture_output=True, check=True).stdout ==
                subprocess.run(one_args, capture_output=True, check=True).stdout)
        # The runner alone, over an empty list: starting Python, importing Dask, connecting.
        empty_args = [sys.executable, runner, "--scheduler", cluster.scheduler_address,
                      "--files-from", "/dev/null", "--scan", scan]
        t_dask, t_j2, empty = best_interleaved(runs, dask_args, one_args, empty_args)
    finally:
        client.close()
        cluster.close()
    print("(best of %d, run in turn)" % runs)
    print("corvexa-scan -j 2                                %8.3f s" % t_j2)
    print("Dask runner, 2 local workers (-j 1 per task)     %8.3f s   output %s"
          % (t_dask, "identical" if same else "DIFFERENT"))
    print("  of which the runner's own start (empty list)   %8.3f s" % empty)
    print("Dask / corvexa-scan -j 2:                        %8.2fx" % (t_dask / t_j2))
    print("overhead per file, (Dask - (-j 2)) / %d files:  %8.1f us"
          % (nfiles, (t_dask - t_j2) / nfiles * 1e6))
    print("  without the runner's start:                    %8.1f us"
          % ((t_dask - empty - t_j2) / nfiles * 1e6))


if __name__ == "__main__":
    main()
