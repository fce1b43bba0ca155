"""Regenerate the packaged main templates from the text in this script.

Run from the repository root: ``python tools/make_templates.py``. The Word
template is built with python-docx, whose default document carries the list
styles ("List Bullet", "List Bullet 2", "List Bullet 3") that converted
Markdown sections use.
"""

import os

import docx

HERE = os.path.dirname(os.path.abspath(__file__))
TEMPLATES = os.path.join(HERE, "..", "src", "velmo_brevant", "templates", "templates")

TITLE = "{{ model_name }}"
SUBTITLE = "Model documentation report - {{ report_date }} - {{ author }}"
BODY = "{{ body }}"

MARKDOWN = """# {{ model_name }}

Model documentation report - {{ report_date }} - {{ author }}

{{ body }}
"""


def write_docx(path):
    document = docx.Document()
    document.add_heading(TITLE, level=0)
    document.add_paragraph(SUBTITLE)
    document.add_paragraph(BODY)
    document.save(path)


def write_markdown(path):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(MARKDOWN)


def main():
    os.makedirs(os.path.join(TEMPLATES, "sections"), exist_ok=True)
    write_docx(os.path.join(TEMPLATES, "report_template_VELMO3.docx"))
    write_markdown(os.path.join(TEMPLATES, "report_template_VELMO3.md"))


if __name__ == "__main__":
    main()
