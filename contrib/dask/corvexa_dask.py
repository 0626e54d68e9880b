#!/usr/bin/python3
"""Runs corvexa-scan over a file list on a Dask cluster.

The list is cut into partitions of consecutive files; each partition is one
Dask task that runs corvexa-scan on a worker over those files. The results come
back in partition order, so the combined output is what one corvexa-scan run
over the whole list prints or writes.

    corvexa_dask.py (--scheduler HOST:PORT | --local N) --files-from LIST
                    [--files-per-task N] [--scan PATH] [-o FILE] [--files-out FILE]
                    [-- CORVEXA-SCAN OPTIONS...]

Every worker must see the files under the same paths (a shared folder such as
NFS) and be able to run corvexa-scan (--scan names it; default: corvexa-scan on
the worker's PATH). See README.md beside this file.
"""

import argparse
import os
import subprocess
import sys
import tempfile

# Options whose result depends on the whole list at once, and the ways of
# naming the files, which this runner owns.
REFUSED = {
    "--dedup": "--dedup needs the whole list at once",
    "--count": "--count needs the whole list at once",
    "--files-from": "the runner hands each task its files",
    "--": "the runner hands each task its files",
    "-o": "give -o to the runner, before --",
    "--output": "give -o to the runner, before --",
    "--files-out": "give --files-out to the runner, before --",
    "--json": "each task would end with its own summary; the runner joins plain output only",
    "--format": "each task would write its own header or summary; the runner joins plain output only",
}
# Every corvexa-scan option that takes a value, so that the value of the two-token
# form ("--pdf plain") is not taken for a file name.
TAKES_VALUE = {"--mask", "--skip-larger-mb", "--pdf", "--decode", "--view", "-j", "--threads",
               "--files-from", "-o", "--output", "--files-out", "--format"}

BOM = b"\xef\xbb\xbf"


def read_list(path):
    """The paths of a file list as bytes, one a line, as corvexa-scan reads it."""
    data = sys.stdin.buffer.read() if path == "-" else open(path, "rb").read()
    if data.startswith(b"\xff\xfe") or data.startswith(b"\xfe\xff"):
        text = data.decode("utf-16")
        data = os.fsencode(text)
    elif data.startswith(BOM):
        data = data[len(BOM):]
    lines = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n")
    return [line for line in lines if line]


def check_scan_options(options):
    """Refuses what cannot be split over tasks; returns an error text or None."""
    i = 0
    while i < len(options):
        opt = options[i]
        name = opt.split("=", 1)[0] if opt.startswith("--") else opt
        if name in REFUSED:
            return "%s: %s" % (opt, REFUSED[name])
        if name in TAKES_VALUE and "=" not in opt and not (name == "-j" and len(opt) > 2):
            i += 1
        elif not opt.startswith("-"):
            return "%s: name the files with --files-from" % opt
        i += 1
    return None


def scan_partition(scan, options, paths, want_export, want_files):
    """One task: corvexa-scan over some files. Runs on a worker."""
    with tempfile.TemporaryDirectory(prefix="corvexa-dask-") as tmp:
        args = [scan, "--quiet", "-j", "1"] + list(options) + ["--files-from", "-"]
        export = os.path.join(tmp, "export.txt")
        files_out = os.path.join(tmp, "files.txt")
        if want_export:
            args += ["-o", export]
        if want_files:
            args += ["--files-out", files_out]
        done = subprocess.run(args, input=b"\n".join(paths) + b"\n", capture_output=True)

        def body(path):
            if not os.path.exists(path):
                return b""
            data = open(path, "rb").read()
            return data[len(BOM):] if data.startswith(BOM) else data

        return {
            "status": done.returncode,
            "out": done.stdout,
            "err": done.stderr,
            "export": body(export) if want_export else b"",
            "files": body(files_out) if want_files else b"",
        }


def partitions(paths, size):
    return [paths[i:i + size] for i in range(0, len(paths), size)]


def main(argv):
    parser = argparse.ArgumentParser(
        prog="corvexa_dask.py",
        description="Run corvexa-scan over a file list on a Dask cluster; the output "
        "equals one corvexa-scan run over the whole list.")
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", help="address of a running Dask scheduler, HOST:PORT")
    where.add_argument("--local", type=int, metavar="N",
                       help="start a cluster of N worker processes on this machine (127.0.0.1)")
    parser.add_argument("--files-from", required=True, metavar="LIST",
                        help="the files, one path a line ('-': standard input)")
    parser.add_argument("--files-per-task", type=int, default=0, metavar="N",
                        help="files in one task (default: the list split into 8 tasks per worker)")
    parser.add_argument("--scan", default="corvexa-scan",
                        help="corvexa-scan as the workers run it (default: from their PATH)")
    parser.add_argument("-o", dest="output", help="write an export file instead of printing")
    parser.add_argument("--files-out", help="write the list of files read as an export file")
    parser.add_argument("scan_options", nargs=argparse.REMAINDER,
                        help="-- followed by corvexa-scan options (detection, reading, --view, -H, -n)")
    args = parser.parse_args(argv)
    options = args.scan_options[1:] if args.scan_options[:1] == ["--"] else args.scan_options
    error = check_scan_options(options)
    if error:
        parser.error(error)

    try:
        paths = read_list(args.files_from)
    except OSError as e:
        print("corvexa_dask.py: %s" % e, file=sys.stderr)
        return 2

    from distributed import Client, LocalCluster

    cluster = None
    if args.local:
        cluster = LocalCluster(n_workers=args.local, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    else:
        client = Client(args.scheduler)
    futures = []
    try:
        workers = max(1, len(client.scheduler_info().get("workers", {})))
        size = args.files_per_task or max(1, -(-len(paths) // (8 * workers)))
        parts = partitions(paths, size)
        futures = [client.submit(scan_partition, args.scan, options, part,
                                 bool(args.output), bool(args.files_out), pure=False)
                   for part in parts]
        return gather_in_order(futures, args)
    except KeyboardInterrupt:
        client.cancel(futures)
        return 130
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def gather_in_order(futures, args):
    """Writes each task's output as soon as all before it are written."""
    status = 0
    export = [BOM] if args.output else None
    files = [BOM] if args.files_out else None
    for future in futures:
        result = future.result()
        if result["err"]:
            sys.stderr.buffer.write(result["err"])
        if result["status"] != 0:
            # 2: bad options, the same for every task; otherwise the worst.
            status = result["status"] if status == 0 else max(status, result["status"])
            if result["status"] == 2:
                break
        if export is not None:
            export.append(result["export"])
        else:
            sys.stdout.buffer.write(result["out"])
        if files is not None:
            files.append(result["files"])
    sys.stdout.buffer.flush()
    for path, parts in ((args.output, export), (args.files_out, files)):
        if parts is not None and status != 2:
            with open(path, "wb") as f:
                f.write(b"".join(parts))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
