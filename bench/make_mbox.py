#!/usr/bin/env python3
"""Builds an mbox from the .eml messages of a folder, taken in name order and
repeated until the mailbox holds about MEGABYTES; "From " lines inside a
message are escaped with ">". Prints the number of messages.
   make_mbox.py EML_DIR OUT.mbox MEGABYTES"""
import os, re, sys

src, out, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
limit = mb * 1024 * 1024
names = sorted(n for n in os.listdir(src) if n.endswith(".eml"))
messages = []
for n in names:
    data = open(os.path.join(src, n), "rb").read().replace(b"\r\n", b"\n")
    data = re.sub(rb"^(>*From )", rb">\1", data, flags=re.M)
    if not data.endswith(b"\n"):
        data += b"\n"
    messages.append(b"From bench@mbox.example Thu Jan  1 00:00:00 2026\n" + data + b"\n")
count = total = 0
tmp = out + ".part"
with open(tmp, "wb") as f:
    while total < limit and messages:
        for m in messages:
            f.write(m)
            total += len(m)
            count += 1
            if total >= limit:
                break
os.replace(tmp, out)
print(count)
