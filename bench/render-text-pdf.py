#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""render-text-pdf.py [--colour|--office] OUT PAGES [WIDTH HEIGHT]: a text
document for the re-rendering benchmarks: every page holds about 50 lines of
10 pt Helvetica text in a Flate-compressed content stream; the font is shared
by all pages.  With --colour each page is a dense office page in colour: a
coloured box behind a heading, a coloured rule under it, a line of text in a
third colour.  With --office each page is an ordinary letter or report page:
a heading in a coloured box, then paragraphs of 11 pt text on 14 pt lines
within one-inch margins."""
import sys
import zlib

args = sys.argv[1:]
colour = "--colour" in args
office = "--office" in args
args = [a for a in args if a not in ("--colour", "--office")]
out, pages = args[0], int(args[1])
width = float(args[2]) if len(args) > 2 else 612
height = float(args[3]) if len(args) > 3 else 792

words = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
         "tempor incididunt ut labore et dolore magna aliqua").split()

objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
           b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
kids = []
for n in range(pages):
    lines = []
    top = height - 60
    if office:
        top = height - 72
        lines += [b"0.85 0.9 1 rg 66 %d %d 26 re f 0 g" % (int(top - 8), int(width - 132)),
                  b"BT /F1 14 Tf 72 %d Td (Quarterly report, part %d) Tj ET" % (int(top), n + 1),
                  b"BT /F1 11 Tf 14 TL 72 %d Td" % int(top - 36)]
        rows = int((top - 36 - 72) / 14)
        i = w = 0
        while i < rows:
            # Paragraphs of three to seven lines, the last one short, a
            # blank line between them.
            length = 3 + (n + i) % 5
            for k in range(min(length, rows - i)):
                count = 6 + (n + i) % 7 if k == length - 1 else 13
                text = " ".join(words[(w + j) % len(words)] for j in range(count))
                w += count
                lines.append(b"(%s) Tj T*" % text.encode())
                i += 1
            lines.append(b"T*")
            i += 1
    else:
        if colour:
            # The kind of colour an office page has: a few flat shades.
            lines += [b"0.85 0.9 1 rg 50 %d %d 30 re f" % (int(top - 8), int(width - 100)),
                      b"0.8 0.1 0.1 RG 2 w 50 %d m %d %d l S" % (int(top - 14), int(width - 50), int(top - 14)),
                      b"BT /F1 16 Tf 0 0.2 0.6 rg 56 %d Td (Report %d) Tj ET 0 g" % (int(top), n + 1)]
            top -= 40
        lines.append(b"BT /F1 10 Tf 12 TL 56 %d Td" % int(top))
        for i in range(int((top - 50) / 12)):
            text = " ".join(words[(n + i + k) % len(words)] for k in range(14))
            if colour and i == 10:
                lines.append(b"0 0.5 0 rg (%d.%d %s) Tj T* 0 g" % (n + 1, i + 1, text.encode()))
                continue
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
