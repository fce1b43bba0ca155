"""Regenerate the packaged Word table skeleton templates/templates/table.docx.

Run from the repository root: ``python tools/make_table_skeleton.py``.

The skeleton is one table whose rows are docxtpl row and cell loops over the
context variable named by the token TABLE_VARIABLE (replaced by the real
variable name before rendering, run by run, so each tag is one run):

    header row   {%tc for col in TABLE_VARIABLE.col_labels %} | {{ col|e}} | {%tc endfor %}
    row          {%tr for item in TABLE_VARIABLE.tbl_contents %}
    body row     {%tc for col in item.cols %} | {{col|e}} | {%tc endfor %}
    row          {%tr endfor %}

followed by an empty paragraph, so that two tables placed one after the other
stay apart. The look is direct formatting (borders, header shading, cell
margins), not a named table style: the table is inserted into report templates
that need not define any style of the skeleton.
"""

import os

import docx
from docx.oxml.ns import qn
from docx.shared import Pt

from docx_build import element, save_reproducibly

HERE = os.path.dirname(os.path.abspath(__file__))
TARGET = os.path.join(HERE, "..", "src", "velmo_brevant", "templates", "templates", "table.docx")

ROWS = [
    ["{%tc for col in TABLE_VARIABLE.col_labels %}", "{{ col|e}}", "{%tc endfor %}"],
    ["{%tr for item in TABLE_VARIABLE.tbl_contents %}", "", ""],
    ["{%tc for col in item.cols %}", "{{col|e}}", "{%tc endfor %}"],
    ["{%tr endfor %}", "", ""],
]
HEADER_FILL = "D9E2F3"
BORDER_COLOR = "8EAADB"
FONT_SIZE = Pt(9)

def style_table(table):
    # Children in the order the schema requires: width, borders, layout,
    # cell margins, look.
    properties = table._tbl.tblPr
    for old in list(properties):
        properties.remove(old)
    properties.append(element("w:tblW", w="5000", type="pct"))
    borders = element("w:tblBorders")
    for side in ("top", "left", "bottom", "right", "insideH", "insideV"):
        borders.append(element("w:" + side, val="single", sz="4", space="0", color=BORDER_COLOR))
    properties.append(borders)
    properties.append(element("w:tblLayout", type="autofit"))
    margins = element("w:tblCellMar")
    for side, width in (("top", "40"), ("left", "80"), ("bottom", "40"), ("right", "80")):
        margins.append(element("w:" + side, w=width, type="dxa"))
    properties.append(margins)
    properties.append(element("w:tblLook", val="04A0", firstRow="1", lastRow="0",
                              firstColumn="0", lastColumn="0", noHBand="0", noVBand="1"))


def fill_cell(cell, text, header):
    cell_properties = cell._tc.get_or_add_tcPr()
    for old in cell_properties.findall(qn("w:tcW")):
        cell_properties.remove(old)
    # Columns are sized by their content: the loops make as many cells as the
    # table has columns, all copies of these.
    cell_properties.append(element("w:tcW", w="0", type="auto"))
    if header:
        cell_properties.append(element("w:shd", val="clear", color="auto", fill=HEADER_FILL))
    paragraph = cell.paragraphs[0]
    paragraph.paragraph_format.space_before = Pt(0)
    paragraph.paragraph_format.space_after = Pt(0)
    if text:
        run = paragraph.add_run(text)
        run.font.size = FONT_SIZE
        if header:
            run.bold = True


def write_skeleton(path):
    document = docx.Document()
    table = document.add_table(rows=len(ROWS), cols=len(ROWS[0]))
    style_table(table)
    header_row = table.rows[0]._tr.get_or_add_trPr()
    header_row.append(element("w:tblHeader"))
    for index, (row, texts) in enumerate(zip(table.rows, ROWS)):
        for cell, text in zip(row.cells, texts):
            fill_cell(cell, text, header=index == 0)
    document.add_paragraph()
    save_reproducibly(document, path)


if __name__ == "__main__":
    write_skeleton(TARGET)
