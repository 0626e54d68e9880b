#!/usr/bin/python3
"""The Dask runner against one corvexa-scan run: a local cluster of two worker
processes over a generated tree must give the same output, export file and
files list. Exits 77 (skipped) when Dask is not installed."""

import importlib.util
import os
import re
import random
import subprocess
import sys
import tempfile

SKIP = 77


def make_tree(root):
    rng = random.Random(15)
    paths = []

    def text(lines, every):
        out = []
        for i in range(lines):
            if i % every == 0:
                out.append("see http://Host%d.example.com/p and m%d@example.org, ftp://f%d.example.net/x www.w%d.de."
                           % (rng.randrange(400), rng.randrange(300), i % 7, rng.randrange(50)))
            else:
                out.append("x" * rng.randrange(150))
        return "\r\n".join(out) + "\n"

    for i in range(60):
        sub = os.path.join(root, "d%d" % (i % 5))
        os.makedirs(sub, exist_ok=True)
        path = os.path.join(sub, "f%02d.txt" % i)
        kind = i % 4
        with open(path, "wb") as f:
            if kind == 0:
                f.write(b"")
            elif kind == 1:
                f.write(text(5000 if i == 1 else 200, 3).encode())
            elif kind == 2:
                f.write(("caf\xe9 http://ansi%d.example.com\n" % i).encode("latin-1"))
            else:
                f.write(b"www.no-final-break%d.example.com" % i)
        paths.append(path)
    paths.append(os.path.join(root, "missing.txt"))  # read as nothing, as in one run
    return paths


def load_runner(path):
    spec = importlib.util.spec_from_file_location("corvexa_dask", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# Options with a value, each in both forms, as corvexa-scan takes them.
VALUE_OPTIONS = [
    ["--mask", "*.txt"], ["--skip-larger-mb", "5"], ["--pdf", "plain"], ["--decode", "eml"],
    ["--view", "host"], ["-j", "2"], ["--threads", "2"],
]


def check_value_options(scan, runner):
    """Every option that --help shows with a value is known to the runner as taking one,
    and each passes in the two-token and in the --opt=value form."""
    module = load_runner(runner)
    failures = 0
    shown = subprocess.run([scan, "--help"], capture_output=True, text=True, timeout=60).stdout
    for m in re.finditer(r"^\s+(?:(-\w) [^,\s]+, )?(--[\w-]+) [^\s-]", shown, re.M):
        for name in filter(None, m.groups()):
            if name not in module.TAKES_VALUE:
                print("%s takes a value but the runner does not know it" % name)
                failures += 1
    for name, value in VALUE_OPTIONS:
        forms = [[name, value, "-H", "-n"]]
        forms.append([name + "=" + value, "-H", "-n"] if name.startswith("--") else [name + value, "-H", "-n"])
        for options in forms:
            error = module.check_scan_options(options)
            if error is not None:
                print("%s: refused: %s" % (" ".join(options), error))
                failures += 1
    if module.check_scan_options(["--pdf", "plain", "stray"]) is None:
        print("a file name after the options was not refused")
        failures += 1
    return failures


def main():
    if len(sys.argv) != 3:
        print("usage: dask_test.py CORVEXA_SCAN CORVEXA_DASK_PY", file=sys.stderr)
        return 2
    scan, runner = sys.argv[1], sys.argv[2]
    failures = check_value_options(scan, runner)
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        print("SKIPPED: python3-distributed is not installed", file=sys.stderr)
        return 1 if failures else SKIP

    with tempfile.TemporaryDirectory(prefix="corvexa-dask-test-") as tmp:
        paths = make_tree(os.path.join(tmp, "tree"))
        listing = os.path.join(tmp, "list.txt")
        with open(listing, "w") as f:
            f.write("\n".join(paths) + "\n")

        cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
        try:
            variants = [[], ["-H", "-n"], ["--view", "host", "--no-ftp"], ["--memory-stream", "-n"],
                        ["--pdf", "plain", "-H", "-n"], ["--pdf=plain", "-H", "-n"]]
            for options in variants:
                one = subprocess.run([scan, "--quiet", "-j", "1", "--files-from", listing] + options,
                                     capture_output=True, timeout=60)
                many = subprocess.run([sys.executable, runner, "--scheduler", cluster.scheduler_address,
                                       "--files-from", listing, "--files-per-task", "7", "--scan", scan,
                                       "--"] + options, capture_output=True, timeout=60)
                same = one.returncode == 0 and many.returncode == 0 and one.stdout == many.stdout
                print("%-28s one run %d lines, Dask %d lines: %s"
                      % (" ".join(options) or "(plain)", one.stdout.count(b"\n"),
                         many.stdout.count(b"\n"), "same" if same else "DIFFERENT"))
                if not same:
                    sys.stderr.buffer.write(one.stderr + many.stderr)
                    failures += 1

            # Export file and files list.
            out1, files1 = os.path.join(tmp, "o1"), os.path.join(tmp, "f1")
            out2, files2 = os.path.join(tmp, "o2"), os.path.join(tmp, "f2")
            subprocess.run([scan, "--quiet", "-j", "1", "--files-from", listing, "-o", out1,
                            "--files-out", files1], check=True, timeout=60)
            subprocess.run([sys.executable, runner, "--scheduler", cluster.scheduler_address,
                            "--files-from", listing, "--files-per-task", "5", "--scan", scan,
                            "-o", out2, "--files-out", files2], check=True, timeout=60)
            for a, b in ((out1, out2), (files1, files2)):
                if open(a, "rb").read() != open(b, "rb").read():
                    print("export files differ: %s" % os.path.basename(a))
                    failures += 1

            # What needs the whole list is refused.
            refused = subprocess.run([sys.executable, runner, "--scheduler", cluster.scheduler_address,
                                      "--files-from", listing, "--", "--dedup"],
                                     capture_output=True, timeout=60)
            if refused.returncode != 2 or b"whole list" not in refused.stderr:
                print("--dedup was not refused")
                failures += 1
        finally:
            client.close()
            cluster.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
