#!/usr/bin/env python3
"""Writes the text fixtures of the office benchmark: word-processor documents
(flat XML) made of the paragraphs of installed package documentation, and
workbooks whose cells hold its lines and words, some of them numbers.
   make_office.py DIR COUNT"""
import glob, gzip, os, random, sys
from xml.sax.saxutils import escape

out, count = sys.argv[1], int(sys.argv[2])
os.makedirs(out, exist_ok=True)
texts = []
for path in sorted(glob.glob("/usr/share/doc/*/copyright"))[:800]:
    try:
        texts.append(open(path, encoding="utf-8", errors="replace").read())
    except OSError:
        pass
rng = random.Random(7)
NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" office:version="1.2"')

def clean(s):
    return escape("".join(c for c in s if c >= " " or c == "\t"))

for i in range(count):
    lines = [l for t in rng.sample(texts, 6) for l in t.splitlines() if l.strip()][:600]
    if i % 2 == 0:
        body = "".join("<text:p>%s</text:p>\n" % clean(l) for l in lines)
        doc = ('<?xml version="1.0" encoding="UTF-8"?>\n<office:document %s '
               'office:mimetype="application/vnd.oasis.opendocument.text">'
               "<office:body><office:text>\n%s</office:text></office:body></office:document>\n" % (NS, body))
        name = "doc-%03d.fodt" % i
    else:
        rows = []
        for l in lines[:400]:
            cells = l.split()[:6]
            xml = "".join(
                '<table:table-cell office:value-type="float" office:value="%s"><text:p>%s</text:p></table:table-cell>'
                % (c, c) if c.isdigit() else
                '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % clean(c)
                for c in cells)
            rows.append("<table:table-row>%s</table:table-row>" % xml)
        sheets = "".join('<table:table table:name="Sheet%d">%s</table:table>' % (n + 1, "".join(rows[n::2]))
                         for n in range(2))
        doc = ('<?xml version="1.0" encoding="UTF-8"?>\n<office:document %s '
               'office:mimetype="application/vnd.oasis.opendocument.spreadsheet">'
               "<office:body><office:spreadsheet>%s</office:spreadsheet></office:body></office:document>\n"
               % (NS, sheets))
        name = "book-%03d.fods" % i
    with open(os.path.join(out, name), "w", encoding="utf-8") as f:
        f.write(doc)
