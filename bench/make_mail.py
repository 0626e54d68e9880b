#!/usr/bin/env python3
"""Builds the e-mail benchmark corpus: the MIME test messages that ship with
this machine's mail libraries, plus messages composed from real text (package
documentation) in the encodings mail programs use: base64 and quoted-printable
bodies, an HTML alternative, an attachment.
   make_mail.py DIR [MEGABYTES]"""
import glob, gzip, html, os, random, shutil, sys
from email.message import EmailMessage
from email.policy import SMTP

out = sys.argv[1]
limit = int(sys.argv[2] if len(sys.argv) > 2 else 80) * 1024 * 1024
marker = os.path.join(out, ".complete")
if os.path.exists(marker) and open(marker).read().strip() == str(limit):
    sys.exit(0)
shutil.rmtree(out, ignore_errors=True)
os.makedirs(out)
total = 0

# Real messages first.
sources = sorted(glob.glob("/root/.pyenv/versions/*/lib/python3.*/test/test_email/data/msg_*.txt"))
sources += sorted(glob.glob("/usr/lib/python3*/test/test_email/data/msg_*.txt"))
sources += sorted(glob.glob("/usr/share/doc/*/examples/*.eml"))
for i, src in enumerate(sources):
    dest = os.path.join(out, "real-%04d.eml" % i)
    shutil.copyfile(src, dest)
    total += os.path.getsize(dest)

# Bodies: text files of the installed documentation.
texts = []
for path in sorted(glob.glob("/usr/share/doc/*/copyright") + glob.glob("/usr/share/doc/*/README*")
                   + glob.glob("/usr/share/doc/*/changelog*.gz"))[:3000]:
    try:
        data = gzip.open(path).read() if path.endswith(".gz") else open(path, "rb").read()
        texts.append(data.decode("utf-8", "replace")[:200000])
    except Exception:
        pass
rng = random.Random(12)
n = 0
while total < limit and texts:
    body = "\n\n".join(rng.choice(texts) for _ in range(rng.randint(1, 4)))
    msg = EmailMessage(policy=SMTP)
    msg["From"] = "Sender %d <sender%d@mail.example>" % (n, n)
    msg["To"] = "list@lists.example, =?utf-8?q?J=C3=B6rg?= <j%d@mail.example>" % n
    msg["Subject"] = "Package notes %d" % n
    msg["Message-ID"] = "<%d.bench@mail.example>" % n
    msg.set_content(body, cte=rng.choice(["base64", "quoted-printable"]))
    if n % 2 == 0:
        msg.add_alternative("<html><body><pre>%s</pre></body></html>" % html.escape(body),
                            subtype="html", cte="quoted-printable")
    if n % 3 == 0:
        msg.add_attachment(os.urandom(rng.randint(1000, 60000)), maintype="application",
                           subtype="octet-stream", filename="data%d.bin" % n)
    dest = os.path.join(out, "composed-%05d.eml" % n)
    with open(dest, "wb") as f:
        f.write(msg.as_bytes())
    total += os.path.getsize(dest)
    n += 1

open(marker, "w").write(str(limit))
print("mail corpus: %d files, %d MB in %s" % (len(sources) + n, total // 1048576, out))
