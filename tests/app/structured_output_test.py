#!/usr/bin/python3
"""corvexa-scan --json and --format csv, read back with Python's own JSON and CSV
parsers and held to the tab-separated output of -H -n over the same tree:
every finding with its file (names that are not UTF-8, with commas, quotes,
tabs and line breaks), archive member, line, kind and text, in the same order
for -j 1 and -j 2."""

import base64
import csv
import io
import json
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

FAILURES = []


def check(ok, what):
    if not ok:
        FAILURES.append(what)
        print("FAILED: " + what)


def tar_bytes(members):
    """A tar archive of (name as bytes, data) members."""
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.GNU_FORMAT, encoding="utf-8",
                      errors="surrogateescape") as t:
        for name, data in members:
            info = tarfile.TarInfo(os.fsdecode(name))
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    return buf.getvalue()


def make_tree(root):
    """Files whose names test the writers, many small ones for the threads, an
    archive with a nested one, and a damaged archive that fails. Returns the
    number of files."""
    names = [b"plain.txt", b'comma,"quote".txt', b"tab\there.txt", b"line\nbreak.txt",
             b"caf\xc3\xa9.txt", b"bad\xff\xfe.txt", b"cr\rname.txt"]
    body = (b"see http://a.example.com/x and www.both@example.com\r\n"
            b"\n"
            b"mail bob@example.org, ftp://ftp.example.net/pub (https://s.example.com/q?a=1&b=2)\n")
    os.makedirs(os.path.join(root, b"sub"))
    count = 0
    for name in names:
        with open(os.path.join(root, name), "wb") as f:
            f.write(body)
        count += 1
    for i in range(40):
        with open(os.path.join(root, b"sub", b"f%02d.txt" % i), "wb") as f:
            f.write(b"".join(b"line %d http://h%d.example.com/%d x%d@example.net\n" % (k, i, k, k)
                             for k in range(i % 7)))
        count += 1
    inner = tar_bytes([(b"m\xff.txt", b"in tar http://t.example.com/a\nsecond x@tar.example\n"),
                       (b"dir/ok.txt", b"\n\nftp://deep.example.org/f\n")])
    with zipfile.ZipFile(os.fsdecode(os.path.join(root, b"outer.zip")), "w") as z:
        z.writestr("a,b.txt", "zip member www.zip.example.com\n")
        z.writestr("inner.tar", inner)
    with open(os.path.join(root, b"broken.zip"), "wb") as f:
        f.write(b"PK\x03\x04" + b"damaged" * 10)
    return count + 2


def run(scan, args):
    r = subprocess.run([scan, "--quiet"] + args, capture_output=True, timeout=120)
    check(r.returncode == 0, "%s: exit %d: %s" % (args, r.returncode, r.stderr[-300:]))
    return r.stdout


def unescape(path):
    return path.replace(b"\\t", b"\t").replace(b"\\r", b"\r").replace(b"\\n", b"\n")


def plain_findings(out):
    """-H -n output as (place bytes, line, text) tuples."""
    rows = []
    for line in out.split(b"\n")[:-1]:
        place, number, text = line.split(b"\t")
        rows.append((unescape(place), int(number), text.decode("utf-8")))
    return rows


def name_of(record, field):
    if field in record:
        return record[field].encode("utf-8")
    return base64.b64decode(record[field + "_bytes"], validate=True)


def read_json(out):
    """The finding objects as (place, line, text, kind) and the summary."""
    check(out.endswith(b"\n"), "JSON output ends with a line end")
    records = [json.loads(line.decode("utf-8")) for line in out.split(b"\n")[:-1]]
    check(records and list(records[-1]) == ["summary"], "the last JSON object is the summary")
    findings = []
    for r in records[:-1]:
        check(("file" in r) != ("file_bytes" in r), "one of file and file_bytes: %r" % r)
        check("member" not in r or "member_bytes" not in r, "not both member and member_bytes: %r" % r)
        place = name_of(r, "file")
        if "member" in r or "member_bytes" in r:
            place += b"//" + name_of(r, "member")
        check(isinstance(r["line"], int) and r["kind"] in ("web", "email", "ftp"), "fields: %r" % r)
        findings.append((place, r["line"], r["text"], r["kind"]))
    return findings, records[-1]["summary"]


def read_csv(out):
    check(out.endswith(b"\r\n"), "CSV rows end with CR LF")
    rows = list(csv.reader(io.StringIO(out.decode("utf-8", "surrogateescape"), newline=""), strict=True))
    check(rows[:1] == [["file", "member", "line", "kind", "text"]], "CSV header: %r" % rows[:1])
    findings = []
    for row in rows[1:]:
        place = row[0].encode("utf-8", "surrogateescape")
        if row[1]:
            place += b"//" + row[1].encode("utf-8", "surrogateescape")
        findings.append((place, int(row[2]), row[4], row[3]))
    return findings


# Each kind of finding alone, as the detection switches leave it.
ALONE = {
    "web": ["--no-email", "--no-ftp"],
    "email": ["--no-http", "--no-https", "--no-www", "--no-ftp"],
    "ftp": ["--no-http", "--no-https", "--no-www", "--no-email"],
}


def main():
    if len(sys.argv) != 2:
        print("usage: structured_output_test.py CORVEXA_SCAN", file=sys.stderr)
        return 2
    scan = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="corvexa-structured-") as tmp:
        root = os.path.join(os.fsencode(tmp), b"tree")
        files = make_tree(root)
        base = ["-z", os.fsdecode(root)]
        plain = plain_findings(run(scan, ["-H", "-n", "-j", "1"] + base))
        check(len(plain) > 150, "the tree gives findings (%d)" % len(plain))
        check(any(b"\xff" in p for p, _, _ in plain), "a name that is not UTF-8 is among them")

        first_json = None
        for threads in ("1", "2"):
            findings, summary = read_json(run(scan, ["--json", "-j", threads] + base))
            check([f[:3] for f in findings] == plain, "-j %s: JSON findings are those of -H -n" % threads)
            for kind, switches in ALONE.items():
                alone = plain_findings(run(scan, ["-H", "-n", "-j", threads] + switches + base))
                check([f[:3] for f in findings if f[3] == kind] == alone,
                      "-j %s: the %s findings are those found by that detection alone" % (threads, kind))
            check(summary["findings"] == len(findings) and summary["failed"] == 1 and
                  summary["files_read"] == files - 1 and summary["stopped"] is False and
                  isinstance(summary["seconds"], (int, float)) and summary["seconds"] >= 0,
                  "-j %s: summary %r" % (threads, summary))
            if first_json is None:
                first_json = findings
            check(findings == first_json, "JSON is the same for -j 1 and -j 2")
            rows = read_csv(run(scan, ["--format", "csv", "-j", threads] + base))
            check(rows == first_json, "-j %s: CSV rows are the JSON findings" % threads)

        # A derived view writes the derived entry, with the finding's place and kind.
        hosts = plain_findings(run(scan, ["-H", "-n", "--view", "host", "-j", "2"] + base))
        findings, _ = read_json(run(scan, ["--json", "--view", "host", "-j", "2"] + base))
        check([f[:3] for f in findings] == hosts, "--view host: JSON findings are those of -H -n")
        check([f[3] for f in findings] == [f[3] for f in first_json], "--view host keeps the kinds")

    if FAILURES:
        print("%d failure(s)" % len(FAILURES))
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
