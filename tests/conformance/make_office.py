#!/usr/bin/python3
"""Stores one small document per office format with a headless office suite (run through
make_fixtures.sh, which starts the suite and passes the output directory and pipe name).

Filter names are the suite's own; a filter that this suite version lacks is reported and
skipped, so the rest still gets written.
"""
import os
import sys

import uno
from com.sun.star.beans import NamedValue

# The suite connection and document helpers are shared with the office fixtures' generator.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "formats", "office", "fixtures"))
from make_real import connect, new_doc, prop  # noqa: E402

OUT = sys.argv[1]
failed = []


def named(name, value):
    v = NamedValue()
    v.Name = name
    v.Value = value
    return v


def store(doc, name, filt, password=None):
    args = [prop("FilterName", filt), prop("Overwrite", True)]
    if password is not None and "2007" in filt:
        # Office Open XML filters take the password as encryption data; this suite version
        # writes the standard (not the agile) encryption.
        enc = uno.Any("[]com.sun.star.beans.NamedValue",
                      (named("OOXPassword", password), named("CryptoType", "Standard")))
        args.append(prop("EncryptionData", enc))
    elif password is not None:
        args.append(prop("Password", password))
    try:
        uno.invoke(doc, "storeToURL", (uno.systemPathToFileUrl(os.path.abspath(os.path.join(OUT, name))),
                                       tuple(args)))
    except Exception as e:  # a filter this version lacks
        failed.append("%s (%s): %s" % (name, filt, e))


def main():
    desktop = connect(sys.argv[2])

    writer = new_doc(desktop, "swriter")
    writer.Text.setString("Conformance document.\nA second paragraph of text.")
    for name, filt in (("writer.doc", "MS Word 97"), ("writer.dot", "MS Word 97 Vorlage"),
                       ("writer.docx", "MS Word 2007 XML"), ("writer.dotx", "MS Word 2007 XML Template"),
                       ("writer.docm", "MS Word 2007 XML VBA"), ("writer.odt", "writer8"),
                       ("writer.ott", "writer8_template"), ("writer.rtf", "Rich Text Format"),
                       ("writer.pdf", "writer_pdf_Export"), ("writer.html", "HTML (StarWriter)"),
                       ("writer-2003.xml", "MS Word 2003 XML"), ("writer.fodt", "OpenDocument Text Flat XML"),
                       ("writer.txt", "Text"),
                       # Awkward names: a blank and an apostrophe reach the archiver's command line.
                       ("with space.docx", "MS Word 2007 XML"), ("it's.odt", "writer8"),
                       # Right content, wrong name.
                       ("document-named.zip", "MS Word 2007 XML"), ("pdf-named.txt", "writer_pdf_Export"),
                       ("doc-named.xls", "MS Word 97")):
        store(writer, name, filt)
    store(writer, "writer-password.doc", "MS Word 97", "kiv-secret")
    store(writer, "writer-password.docx", "MS Word 2007 XML", "kiv-secret")
    store(writer, "writer-password.odt", "writer8", "kiv-secret")
    writer.close(True)

    calc = new_doc(desktop, "scalc")
    sheet = calc.Sheets.getByIndex(0)
    sheet.getCellByPosition(0, 0).setString("item")
    sheet.getCellByPosition(1, 0).setString("count")
    sheet.getCellByPosition(0, 1).setString("bolt")
    sheet.getCellByPosition(1, 1).setValue(12)
    for name, filt in (("calc.xls", "MS Excel 97"), ("calc.xlt", "MS Excel 97 Vorlage/Template"),
                       ("calc.xlsx", "Calc MS Excel 2007 XML"), ("calc.xltx", "Calc MS Excel 2007 XML Template"),
                       ("calc.xlsm", "Calc MS Excel 2007 VBA XML"), ("calc.ods", "calc8"),
                       ("calc.ots", "calc8_template"), ("calc-2003.xml", "MS Excel 2003 XML"),
                       ("calc.pdf", "calc_pdf_Export"), ("calc.csv", "Text - txt - csv (StarCalc)"),
                       ("calc.html", "HTML (StarCalc)")):
        store(calc, name, filt)
    store(calc, "calc-password.xls", "MS Excel 97", "kiv-secret")
    store(calc, "calc-password.xlsx", "Calc MS Excel 2007 XML", "kiv-secret")
    store(calc, "calc-password.ods", "calc8", "kiv-secret")
    calc.close(True)

    impress = new_doc(desktop, "simpress")
    page = impress.DrawPages.getByIndex(0)
    shape = impress.createInstance("com.sun.star.drawing.TextShape")
    page.add(shape)
    shape.setString("Conformance slide")
    # The 97-2003 presentations are large (about 450 KB each), so only two: the slide show also
    # shows the name deciding between the variants that share one content signature.
    for name, filt in (("impress.ppt", "MS PowerPoint 97"), ("impress.pps", "MS PowerPoint 97 AutoPlay"),
                       ("impress.pptx", "Impress MS PowerPoint 2007 XML"),
                       ("impress.ppsx", "Impress MS PowerPoint 2007 XML AutoPlay"),
                       ("impress.potx", "Impress MS PowerPoint 2007 XML Template"),
                       ("impress.pptm", "Impress MS PowerPoint 2007 XML VBA"),
                       ("impress.odp", "impress8"), ("impress.otp", "impress8_template"),
                       ("impress.pdf", "impress_pdf_Export")):
        store(impress, name, filt)
    store(impress, "impress-password.odp", "impress8", "kiv-secret")
    store(impress, "impress-password.pptx", "Impress MS PowerPoint 2007 XML", "kiv-secret")
    impress.close(True)

    draw = new_doc(desktop, "sdraw")
    page = draw.DrawPages.getByIndex(0)
    rect = draw.createInstance("com.sun.star.drawing.RectangleShape")
    page.add(rect)
    size = uno.createUnoStruct("com.sun.star.awt.Size")
    size.Width, size.Height = 4000, 2000
    rect.setSize(size)
    for name, filt in (("draw.odg", "draw8"), ("draw.otg", "draw8_template"), ("draw.svg", "draw_svg_Export"),
                       ("draw.emf", "draw_emf_Export"), ("draw.wmf", "draw_wmf_Export"),
                       ("draw.pdf", "draw_pdf_Export"), ("draw.eps", "draw_eps_Export")):
        store(draw, name, filt)
    draw.close(True)

    try:
        desktop.terminate()
    except Exception:
        pass
    for f in failed:
        print("not written: " + f, file=sys.stderr)


main()
