"""Regenerate the packaged Word templates of the sample model report.

Run from the repository root: ``python tools/make_templates.py``.

Writes, under src/velmo_brevant/templates/templates/:

- report_template_VELMO3.docx, the main Word template: a title page with the
  report's metadata, then one paragraph-level tag per section;
- sections/data_summary.docx, the one Word section of the sample report.

The Markdown main template and the Markdown sections are plain text files in
the same folders and are edited directly. The Word main template is also the
reference document of Markdown-to-Word conversion, so it defines the styles
converted sections use (headings, "Body Text", "First Paragraph", "Compact",
the "List Bullet" family that numbered lists are turned into).
"""

import os

import docx
from docx.enum.section import WD_ORIENT
from docx.enum.text import WD_ALIGN_PARAGRAPH, WD_BREAK
from docx.shared import Mm, Pt, RGBColor

from docx_build import element, save_reproducibly

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATES = os.path.join(HERE, "..", "src", "velmo_brevant", "templates", "templates")

# The main template: what the title page shows and in which order the
# sections follow. Each section is a sub-document placed by a {{p name }} tag.
TITLE = "{{ model_name }}"
SUBTITLE = "Model documentation report"
METADATA = [
    ("Prepared by", "{{ author }}"),
    ("Date", "{{ report_date }}"),
    ("Model", "{{ model_type }}"),
    ("Target", "{{ target }}"),
    ("Validation AUC", "{{ auc }}"),
]
SECTIONS = ["executive_summary", "data_summary", "feature_importance", "model_performance", "appendix"]
FOOTER = "{{ model_name }} - model documentation - page "

# The Word section: heading, text, and the table placed by its tag.
DATA_SUMMARY = [
    ("Heading 1", "Data summary"),
    (
        "Body Text",
        "The model was trained on {{ train_rows }} applications and validated on {{ valid_rows }} "
        "held-out applications; {{ default_rate }} of all applications defaulted. The table "
        "summarises the {{ feature_count }} features of the training data.",
    ),
    ("Body Text", "{{p data_table }}"),
    (
        "Body Text",
        "No feature has missing values; monetary amounts are in the currency of the loan book.",
    ),
]

ACCENT = RGBColor(0x1F, 0x3A, 0x5F)
TEXT = RGBColor(0x22, 0x22, 0x22)
FONT = "Calibri"


def a4_page(document):
    for section in document.sections:
        section.orientation = WD_ORIENT.PORTRAIT
        section.page_width, section.page_height = Mm(210), Mm(297)
        section.left_margin = section.right_margin = Mm(15)
        section.top_margin, section.bottom_margin = Mm(20), Mm(18)


def style_fonts(document):
    styles = document.styles
    normal = styles["Normal"]
    normal.font.name = FONT
    normal.font.size = Pt(10.5)
    normal.font.color.rgb = TEXT
    normal.paragraph_format.space_after = Pt(6)
    for name, size in (("Title", 30), ("Heading 1", 17), ("Heading 2", 13.5), ("Heading 3", 11.5)):
        style = styles[name]
        style.font.name = FONT
        style.font.size = Pt(size)
        style.font.color.rgb = ACCENT
        style.font.bold = name != "Title"
    styles["Heading 1"].paragraph_format.space_before = Pt(18)
    styles["Heading 1"].paragraph_format.page_break_before = False
    for name in ("Body Text", "First Paragraph", "Compact"):
        if name not in [s.name for s in styles]:
            style = styles.add_style(name, 1)
            style.base_style = normal
    styles["Compact"].paragraph_format.space_after = Pt(2)


def shade(cell, fill):
    cell._tc.get_or_add_tcPr().append(element("w:shd", val="clear", color="auto", fill=fill))


def title_page(document):
    document.add_paragraph().paragraph_format.space_before = Mm(45)
    title = document.add_paragraph(TITLE, style="Title")
    title.alignment = WD_ALIGN_PARAGRAPH.LEFT
    subtitle = document.add_paragraph()
    run = subtitle.add_run(SUBTITLE)
    run.font.size = Pt(15)
    run.font.color.rgb = ACCENT
    subtitle.paragraph_format.space_after = Mm(12)
    table = document.add_table(rows=0, cols=2)
    table.style = document.styles["Table Grid"]
    for label, value in METADATA:
        cells = table.add_row().cells
        cells[0].text, cells[1].text = label, value
        cells[0].paragraphs[0].runs[0].font.bold = True
        shade(cells[0], "D9E2F3")
        cells[0].width, cells[1].width = Mm(45), Mm(110)
    document.add_paragraph().add_run().add_break(WD_BREAK.PAGE)


def page_number_footer(document):
    paragraph = document.sections[0].footer.paragraphs[0]
    paragraph.alignment = WD_ALIGN_PARAGRAPH.RIGHT
    run = paragraph.add_run(FOOTER)
    run.font.size = Pt(8)
    field = paragraph.add_run()
    field.font.size = Pt(8)
    instruction = element("w:instrText")
    instruction.text = " PAGE "
    for node in (element("w:fldChar", fldCharType="begin"), instruction, element("w:fldChar", fldCharType="end")):
        field._r.append(node)


def main_template():
    document = docx.Document()
    a4_page(document)
    style_fonts(document)
    title_page(document)
    for name in SECTIONS:
        document.add_paragraph("{{p %s }}" % name)
    page_number_footer(document)
    return document


def data_summary_section():
    document = docx.Document()
    style_fonts(document)
    for style, text in DATA_SUMMARY:
        document.add_paragraph(text, style=style)
    return document


def main():
    os.makedirs(os.path.join(TEMPLATES, "sections"), exist_ok=True)
    save_reproducibly(main_template(), os.path.join(TEMPLATES, "report_template_VELMO3.docx"))
    save_reproducibly(data_summary_section(), os.path.join(TEMPLATES, "sections", "data_summary.docx"))


if __name__ == "__main__":
    main()
