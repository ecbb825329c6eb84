"""Small PDF documents for the printing tests, written here so that the text on each page and its
place are known exactly: pdftotext -bbox reads them back from the printed file."""


def make_pdf(pages, filler=0):
    """pages: (width, height, rotate, text, x, y, size) per page, in points; the text is drawn
    in Helvetica with its baseline's left end at (x, y) from the page's bottom left corner.
    filler: bytes of an uncompressed stream added to each page's content, to make big files."""
    objects = [None, None, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    kids = []
    for width, height, rotate, text, x, y, size in pages:
        body = b"BT /F1 %d Tf %g %g Td (%s) Tj ET\n" % (size, x, y, text.encode("latin-1"))
        if filler:
            body += b"%" + b"z" * filler + b"\n"
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(body), body))
        content = len(objects)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %g %g] /Rotate %d "
                       b"/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>"
                       % (width, height, rotate, content))
        kids.append(b"%d 0 R" % len(objects))
    objects[0] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(kids), len(kids))
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, obj in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, obj)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


A4 = (595, 842)
