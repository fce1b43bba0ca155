"""Template value encoding: placeholders parked in the main context, and the Word report that
comes out once they are rendered in."""

import re
import zipfile

import docx
import pytest
from docx.shared import Mm
from docxtpl import DocxTemplate, InlineImage, RichText, Subdoc
from PIL import Image

from velmo_brevant.utils import utils

L, R = "XXXLLLLXXX", "XXXRRRRXXX"
HEX32 = "[0-9a-f]{32}"
TABLE = {"col_labels": ["name", "value"], "tbl_contents": [{"cols": ["a", "1"]}]}


def parked_key(placeholder):
    text = placeholder if isinstance(placeholder, str) else placeholder.paragraphs[0].text
    return re.fullmatch(L + "(?:[rp] )?(.*)" + R, text).group(1)


# main format, template type stack, sub_template_type, type, outcome
OUTCOMES = [
    ("md", ["md"], "md", "table", "value"),
    ("md", ["md", "md"], "md", "image", "value"),
    ("md", ["md", "md"], "md", "url", "value"),
    ("docx", ["docx", "docx"], "docx", "table", "table"),
    ("docx", ["docx", "docx"], "docx", "image", "plain"),
    ("docx", ["docx", "docx"], "docx", "url", "value"),
    ("docx", ["docx", "docx"], "md", "key", "value"),
    ("docx", ["docx", "md"], "docx", "url", "url"),
    ("docx", ["docx", "md"], "docx", "table", "table"),
    ("docx", ["docx", "md"], "docx", "image", "plain"),
    ("docx", ["docx", "md"], "docx", "key", "plain"),
    ("docx", ["docx"], "md", "image", "plain"),
    ("docx", ["docx"], "md", "url", "url"),
    ("md", ["md", "docx"], "md", "table", AssertionError),
    ("md", ["md", "docx"], "md", "url", "url"),
    ("md", ["md", "docx"], "md", "key", "plain"),
    ("md", ["md"], "docx", "image", "plain"),
]


@pytest.mark.parametrize("main, stack, sub, type_, outcome", OUTCOMES)
def test_encode_to_template_outcomes(fake_config, main, stack, sub, type_, outcome):
    config = fake_config(main, sub)
    config.current_template_types = stack
    value = TABLE if type_ == "table" else object()
    context = config.runtime["context"]
    if outcome is AssertionError:
        with pytest.raises(AssertionError) as raised:
            utils.encode_to_template(value, config, type=type_)
        assert str(raised.value) == ""
        assert list(context.values()) == [value]
        return
    result = utils.encode_to_template(value, config, type_)
    if outcome == "value":
        assert result is value and context == {}
        return
    (key,) = context
    assert re.fullmatch(type_ + HEX32, key) and context[key] is value
    if outcome == "table":
        assert isinstance(result, utils.TextWithTableValues)
        assert [p.text for p in result.subdocx.paragraphs] == [L + "p " + key + R]
        assert (result.col_labels, result.tbl_contents) == (TABLE["col_labels"],
                                                            TABLE["tbl_contents"])
    else:
        assert result == {"url": L + "r " + key + R, "plain": L + key + R}[outcome]


def test_encode_to_template_default_type_and_fresh_keys(fake_config):
    config = fake_config("docx", "md")
    config.runtime["context"]["given"] = 1
    first = utils.encode_to_template("a", config)
    second = utils.encode_to_template("a", config)
    assert first != second and re.fullmatch(L + "key" + HEX32 + R, first)
    assert len(config.runtime["context"]) == 3


@pytest.mark.parametrize("value, error", [
    ([("col_labels", [])], "argument after \\*\\* must be a mapping, not list"),
    ({"col_labels": []}, None),
    ({"col_labels": [], "tbl_contents": [], "extra": 1}, None),
])
def test_encode_to_template_table_value_must_be_a_word_table_value(fake_config, value, error):
    config = fake_config("docx", "md")
    with pytest.raises(TypeError, match=error):
        utils.encode_to_template(value, config, type="table")


def test_encode_to_template_needs_a_context(fake_config):
    config = fake_config("docx", "md")
    config.runtime = {}
    with pytest.raises(KeyError):
        utils.encode_to_template(1, config, type="image")


def png(path, size=(400, 200), dpi=(100, 100)):
    image = Image.new("RGB", size, "white")
    image.paste((200, 30, 30), (0, 0, size[0] // 2, size[1]))
    image.save(path, dpi=dpi)
    return str(path)


def write_main_template(path, paragraphs):
    document = docx.Document()
    for text in paragraphs:
        document.add_paragraph(text)
    document.save(path)
    return str(path)


def document_text_xml(path):
    with zipfile.ZipFile(path) as archive:
        return archive.read("word/document.xml").decode("utf-8")


def hyperlinks(document):
    """(text, target URL) of each w:hyperlink: python-docx 0.8 leaves their text out of
    Paragraph.text, so they are read from the XML and the relationships."""
    found = []
    for link in document.element.body.iter(docx.oxml.ns.qn("w:hyperlink")):
        rel = document.part.rels[link.get(docx.oxml.ns.qn("r:id"))]
        text = "".join(t.text for t in link.iter(docx.oxml.ns.qn("w:t")))
        found.append((text, rel.target_ref, rel.is_external))
    return found


def test_word_report_with_tables_image_and_link(fake_config, tmp_path):
    """Values parked while a Markdown section renders come out of the main Word template as a
    real table, an inline image and a hyperlink, after the driver's own render."""
    main = write_main_template(tmp_path / "main.docx", [
        "Report {{ title }}",
        "{{ first_table }}",
        "Figure: {{ figure }} end",
        "See {{ link }} for details.",
        "{{ second_table }}",
        "Note: {{ note }}",
    ])
    config = fake_config("docx", "md", template_path=main)
    config.current_template_types.append("md")  # a Markdown section is being rendered
    first = utils.encode_to_template(TABLE, config, type="table")
    second = utils.encode_to_template(
        {"col_labels": ["x", "y", "z"],
         "tbl_contents": [{"cols": ["1", "2", "3"]}, {"cols": ["4", "5", "6 & <7>"]}]},
        config, type="table")
    figure = utils.image_path_to_template_var(png(tmp_path / "plot.png"), config)
    link = utils.url_to_template_var(config, "https://example.com/model?a=1&b=2", "the model")
    note = utils.encode_to_template("fish & chips <b>", config)
    config.current_template_types.pop()

    # The driver renders the sections into the main template (placeholders as text), having
    # read its paragraphs before: python-docx then keeps serving the pre-render body.
    assert len(config.template.paragraphs) == 6
    context = config.runtime["context"]
    context.update(title="T", first_table=first.paragraphs[0].text, figure=figure, link=link,
                   second_table=second.paragraphs[0].text, note=note)
    config.template.render(context, autoescape=True)
    assert config.template.is_rendered

    assert utils.render_images_and_tables(config) is None
    out = tmp_path / "report.docx"
    config.template.save(out)

    xml = document_text_xml(out)
    for leftover in (L, R, "{{", "}}", "{%", "%}", "TABLE_VARIABLE"):
        assert leftover not in xml, "placeholder or tag survived: " + leftover
    report = docx.Document(out)
    texts = [p.text for p in report.paragraphs]
    assert texts[0] == "Report T"
    assert "Note: fish & chips <b>" in texts
    tables = report.tables
    assert len(tables) == 2
    assert [[c.text for c in row.cells] for row in tables[0].rows] == [["name", "value"],
                                                                        ["a", "1"]]
    assert [[c.text for c in row.cells] for row in tables[1].rows] == [
        ["x", "y", "z"], ["1", "2", "3"], ["4", "5", "6 & <7>"]]
    assert all(len(t._tbl.tblGrid.findall(docx.oxml.ns.qn("w:gridCol"))) == n
               for t, n in zip(tables, (2, 3)))
    (shape,) = report.inline_shapes
    assert shape.width == Mm(180) and shape.height == Mm(90)
    assert ("the model", "https://example.com/model?a=1&b=2", True) in hyperlinks(report)

    # Each table got its own sub-document bound to its own "content" key.
    table_keys = [k for k in context if k.startswith("table")]
    assert len(table_keys) == 2
    subdocs = [context[k] for k in table_keys]
    assert all(isinstance(s, Subdoc) for s in subdocs) and subdocs[0].subdocx is not subdocs[1].subdocx
    assert [context["content" + k]["col_labels"] for k in table_keys] == [["name", "value"],
                                                                          ["x", "y", "z"]]
    assert isinstance(context[parked_key(figure)], InlineImage)
    assert isinstance(context[parked_key(link)], RichText)


def test_render_images_and_tables_scans_only_top_level_body_paragraphs(fake_config, tmp_path):
    config = fake_config("docx")
    config.runtime["context"]["imagek"] = "shown"
    document = docx.Document()
    document.add_paragraph("body " + L + "imagek" + R)
    document.add_table(rows=1, cols=1).cell(0, 0).text = "cell " + L + "imagek" + R
    split = document.add_paragraph("XXXLL")
    split.add_run("LLXXXimagek" + R)
    path = tmp_path / "main.docx"
    document.save(path)
    config.template = DocxTemplate(path)
    utils.render_images_and_tables(config)
    body = config.template.docx
    assert body.paragraphs[0].text == "body shown"
    assert body.tables[0].cell(0, 0).text == "cell " + L + "imagek" + R
    assert body.paragraphs[1].text == "XXXLLLLXXXimagek" + R


def test_render_images_and_tables_escapes_text_for_a_word_main_level(fake_config, tmp_path):
    config = fake_config("docx", template_path=write_main_template(
        tmp_path / "main.docx", [L + "keyk" + R]))
    config.runtime["context"]["keyk"] = "<w:r><w:t>raw</w:t></w:r>"
    utils.render_images_and_tables(config)
    assert config.template.docx.paragraphs[0].text == "<w:r><w:t>raw</w:t></w:r>"
