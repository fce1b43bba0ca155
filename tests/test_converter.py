"""The pandoc-backed converter that cross-format sections go through."""

import docx
import pytest

from velmo_brevant.utils import utils
from velmo_brevant.utils.converter import PandocError, PandocExecutor

PLACEHOLDER = "XXXLLLLXXXp table0123XXXRRRRXXX"


def paragraph_runs(path):
    return [[run.text for run in p.runs] for p in docx.Document(path).paragraphs]


def test_markdown_to_word_keeps_placeholders_and_tags_as_text(tmp_path):
    md = tmp_path / "s.md"
    md.write_text("# Title\n\n" + PLACEHOLDER + "\n\nValue {{ x }} here\n\n- item\n", encoding="utf-8")
    out = tmp_path / "s.docx"
    PandocExecutor().convert_md_to_docx(str(md), str(out), utils.get_default_template_path())
    runs = paragraph_runs(str(out))
    assert [PLACEHOLDER] in runs
    texts = ["".join(r) for r in runs]
    assert "Value {{ x }} here" in texts and "item" in texts
    styles = {p.style.name for p in docx.Document(str(out)).paragraphs}
    assert "Heading 1" in styles


def test_word_to_markdown_keeps_placeholders_and_tags_as_text(tmp_path):
    source = tmp_path / "s.docx"
    document = docx.Document()
    document.add_paragraph(PLACEHOLDER)
    document.add_paragraph("Value {{ x }} here")
    document.save(str(source))
    out = tmp_path / "s.md"
    PandocExecutor().convert_docx_to_md(str(source), str(out))
    lines = out.read_text(encoding="utf-8").splitlines()
    assert PLACEHOLDER in lines and "Value {{ x }} here" in lines


def test_failure_raises_with_pandocs_message(tmp_path):
    with pytest.raises(PandocError) as raised:
        PandocExecutor().convert_docx_to_md(str(tmp_path / "missing.docx"), str(tmp_path / "o.md"))
    assert "missing.docx" in str(raised.value)
