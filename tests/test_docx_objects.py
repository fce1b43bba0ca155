"""Word building blocks: the table sub-document, the table skeleton, the body walk, run rewriting
and numbered paragraphs turned into bullet lists."""

import inspect

import docx
import pytest
from docx.oxml import parse_xml
from docx.oxml.ns import nsdecls, qn
from docxtpl import DocxTemplate, Subdoc

from velmo_brevant.utils import utils


@pytest.fixture
def main_template():
    return DocxTemplate(utils.get_default_template_path())


def test_text_with_table_values_is_a_subdoc_with_one_paragraph(main_template):
    assert issubclass(utils.TextWithTableValues, Subdoc)
    assert utils.TextWithTableValues.__bases__ == (Subdoc,)
    assert utils.TextWithTableValues.__module__ == "velmo_brevant.utils.utils"
    value = utils.TextWithTableValues(main_template, "x", ["a", "b"], [{"cols": [1, 2]}])
    assert len(value) == 2
    assert list(vars(value)) == ["tpl", "docx", "subdocx", "col_labels", "tbl_contents"]
    assert value.tpl is main_template and value.docx is main_template.docx
    assert [p.text for p in value.subdocx.paragraphs] == ["x"]
    assert value.tbl_contents == [{"cols": [1, 2]}]
    # str() is the sub-document's XML; attributes fall through to it.
    assert str(value).startswith("<w:p") and ">x</w:t>" in str(value)
    assert value.paragraphs[0].text == "x"
    assert not utils.TextWithTableValues(main_template, "y", [], [])
    assert str(inspect.signature(utils.TextWithTableValues.__init__)) == (
        "(self, template, text, col_labels, tbl_contents)"
    )


def test_text_with_table_values_documents_both_uses_with_the_exact_tags():
    doc = utils.TextWithTableValues.__doc__
    for tag in [
        "{{p TABLE}}",
        "{%tc for col in TABLE.col_labels %}",
        "{{ col|e}}",
        "{%tc endfor %}",
        "{%tr for item in TABLE.tbl_contents %}",
        "{%tc for col in item.cols %}",
        "{{col|e}}",
        "{%tr endfor %}",
    ]:
        assert '"' + tag + '"' in doc


def test_text_with_table_values_arguments(main_template):
    with pytest.raises(TypeError):
        utils.TextWithTableValues(main_template, "x", ["a"])
    value = utils.TextWithTableValues(
        template=main_template, text="t", col_labels=["a"], tbl_contents=[]
    )
    assert value.col_labels == ["a"]


def test_text_with_table_values_keeps_a_rendered_main_document(tmp_path):
    path = tmp_path / "main.docx"
    document = docx.Document()
    document.add_paragraph("{{ name }}")
    document.save(path)
    tpl = DocxTemplate(path)
    tpl.render({"name": "rendered"})
    value = utils.TextWithTableValues(tpl, "x", ["a"], [])
    assert value.docx is tpl.docx
    assert [p.text for p in tpl.docx.paragraphs] == ["rendered"]
    assert tpl.is_rendered


def body_document():
    document = docx.Document()
    document.add_paragraph("first")
    document.add_table(rows=1, cols=2)
    document.add_paragraph("last")
    return document


def test_docx_iterator_yields_top_level_blocks_lazily_in_order():
    assert inspect.isgeneratorfunction(utils.docx_iterator)
    assert str(inspect.signature(utils.docx_iterator)) == "(document)"
    assert utils.docx_iterator.__module__ == "velmo_brevant.utils.utils"
    document = body_document()
    blocks = list(utils.docx_iterator(document))
    assert [type(block).__name__ for block in blocks] == ["Paragraph", "Table", "Paragraph"]
    assert [blocks[0].text, blocks[2].text] == ["first", "last"]
    assert all(block._parent is document for block in blocks)
    assert document.element.body[-1].tag == qn("w:sectPr")

    # Nothing is read before iteration starts; then one block at a time.
    never_read = utils.docx_iterator(object())
    with pytest.raises(AttributeError):
        next(never_read)
    blocks = utils.docx_iterator(document)
    assert next(blocks).text == "first"
    document.add_paragraph("added while iterating")
    assert [type(b).__name__ for b in blocks] == ["Table", "Paragraph", "Paragraph"]


def header_footer_and_merged_cells(tmp_path):
    document = docx.Document()
    document.sections[0].header.paragraphs[0].text = "header"
    document.sections[0].footer.paragraphs[0].text = "footer"
    paragraph = document.add_paragraph("one ")
    paragraph.add_run("two")
    table = document.add_table(rows=2, cols=3)
    table.cell(0, 0).text = "a"
    table.cell(0, 1).merge(table.cell(0, 2)).text = "merged"
    table.cell(1, 0).merge(table.cell(1, 1)).text = "wide"
    table.cell(1, 2).text = "c"
    nested = table.cell(1, 2).add_table(rows=1, cols=1)
    nested.cell(0, 0).text = "nested"
    path = tmp_path / "doc.docx"
    document.save(path)
    return path


def test_handle_runs_rewrites_body_and_cells_once_each(tmp_path):
    tpl = DocxTemplate(header_footer_and_merged_cells(tmp_path))
    assert tpl.docx is None  # docxtpl loads lazily; handle_runs loads it
    assert utils.handle_runs(tpl, lambda text: text.upper() + "!") is None
    document = tpl.docx
    assert [run.text for run in document.paragraphs[0].runs] == ["ONE !", "TWO!"]
    table = document.tables[0]
    assert [c.text for c in table.rows[0].cells] == ["A!", "MERGED!", "MERGED!"]
    assert [c.text for c in table.rows[1].cells][:2] == ["WIDE!", "WIDE!"]
    assert table.cell(1, 2).paragraphs[0].text == "C!"
    assert table.cell(1, 2).tables[0].cell(0, 0).text == "nested"
    section = document.sections[0]
    assert (section.header.paragraphs[0].text, section.footer.paragraphs[0].text) == (
        "header",
        "footer",
    )


def test_handle_runs_assigns_every_run_and_passes_errors_on():
    document = body_document()
    seen = []
    holder = type("Holder", (), {"docx": document})()
    utils.handle_runs(holder, lambda text: seen.append(text) or text)
    assert seen == ["first", "last"]
    with pytest.raises(ZeroDivisionError):
        utils.handle_runs(holder, lambda text: 1 / 0)


def test_create_docx_table_binds_every_token_to_the_key():
    document = utils.create_docx_table("t1")
    texts = [run.text for row in document.tables[0].rows for c in row.cells
             for p in c.paragraphs for run in p.runs]
    assert not any("TABLE_VARIABLE" in text for text in texts)
    assert "{%tc for col in t1.col_labels %}" in texts
    assert "{%tr for item in t1.tbl_contents %}" in texts
    assert sum("t1" in text for text in texts) == 2
    # Each call reads the packaged file afresh.
    assert utils.create_docx_table("t2") is not document


def numbered(document, text, level, num_id=1):
    paragraph = document.add_paragraph(text)
    paragraph._p.get_or_add_pPr().append(parse_xml(
        '<w:numPr %s><w:ilvl w:val="%d"/><w:numId w:val="%d"/></w:numPr>'
        % (nsdecls("w"), level, num_id)
    ))
    return paragraph


def test_numbering_to_list_uses_the_bullet_style_of_the_level():
    document = docx.Document()
    plain = document.add_paragraph("plain")
    first = numbered(document, "level 0", 0, num_id=7)
    second = numbered(document, "level 1", 1, num_id=7)
    utils.numbering_to_list(document)
    for paragraph, style_name, level in [(first, "List Bullet 2", 0), (second, "List Bullet 3", 1)]:
        style = document.styles[style_name]
        assert paragraph.style.name == style_name
        num_pr = paragraph._p.pPr.numPr
        assert num_pr.numId.val == style.element.pPr.numPr.numId.val != 7
        assert num_pr.ilvl.val == level
    assert plain._p.pPr is None


def test_numbering_to_list_without_numbering_leaves_the_document_alone():
    document = body_document()
    before = document.element.xml
    utils.numbering_to_list(document)
    assert document.element.xml == before


def test_numbering_to_list_missing_style_keeps_earlier_changes():
    document = docx.Document()
    first = numbered(document, "ok", 0)
    numbered(document, "too deep", 5)
    with pytest.raises(KeyError):
        utils.numbering_to_list(document)
    assert first.style.name == "List Bullet 2"
