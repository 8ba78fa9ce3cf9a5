#!/usr/bin/env python3
"""render-text-pdf.py OUT PAGES [WIDTH HEIGHT]: a text document for the
re-rendering benchmarks: every page holds about 50 lines of Helvetica text
in a Flate-compressed content stream; the font is shared by all pages."""
import sys
import zlib

out, pages = sys.argv[1], int(sys.argv[2])
width = float(sys.argv[3]) if len(sys.argv) > 3 else 612
height = float(sys.argv[4]) if len(sys.argv) > 4 else 792

words = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
         "tempor incididunt ut labore et dolore magna aliqua").split()

objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
           b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
kids = []
for n in range(pages):
    lines = [b"BT /F1 10 Tf 12 TL 56 %d Td" % int(height - 60)]
    for i in range(int((height - 110) / 12)):
        text = " ".join(words[(n + i + k) % len(words)] for k in range(14))
        lines.append(b"(%d.%d %s) Tj T*" % (n + 1, i + 1, text.encode()))
    lines.append(b"ET")
    data = zlib.compress(b"\n".join(lines) + b"\n")
    page_no = len(objects) + 1
    kids.append(page_no)
    objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %g %g] "
                   b"/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>"
                   % (width, height, page_no + 1))
    objects.append(b"<< /Length %d /Filter /FlateDecode >>\nstream\n" % len(data) +
                   data + b"\nendstream")
objects[1] = (b"<< /Type /Pages /Count %d /Kids [" % pages +
              b" ".join(b"%d 0 R" % k for k in kids) + b"] >>")

body = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
offsets = []
for i, obj in enumerate(objects):
    offsets.append(len(body))
    body += b"%d 0 obj\n" % (i + 1) + obj + b"\nendobj\n"
xref = len(body)
body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
for off in offsets:
    body += b"%010d 00000 n \n" % off
body += (b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n"
         % (len(objects) + 1, xref))
with open(out, "wb") as f:
    f.write(body)
