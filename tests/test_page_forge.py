"""Rendering sections: Word and Markdown renderers, Vega blocks, conversion and the driver."""

import json
import logging
import os
import re

import docx
import hypothesis
import docxtpl
from docxtpl.subdoc import Subdoc
import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.config.config import Config
from velmo_brevant.utils import page_forge, utils

VEGA_LITE = {
    "$schema": "https://vega.github.io/schema/vega-lite/v5.json",
    "data": {"values": [{"a": "x", "b": 3}, {"a": "y", "b": 5}]},
    "mark": "bar",
    "encoding": {"x": {"field": "a", "type": "nominal"}, "y": {"field": "b", "type": "quantitative"}},
}


def vega_block(chart):
    return "```vega\n" + json.dumps(chart) + "\n```"


@pytest.fixture
def report(tmp_path):
    """A Word report's configuration with its sections directory, image directory and main template."""
    sections = tmp_path / "sections"
    sections.mkdir()
    config = Config(str(tmp_path / "report.docx"), template_sections_path=str(sections), sub_template_type=OutputType.MD)
    os.mkdir(config.images_dir)
    config.load_template()
    config.sections = sections
    return config


def as_markdown_main(config):
    config.main_template_type = OutputType.MD
    config.current_template_types[:] = [OutputType.MD]
    return config


def write_docx_section(path, *paragraphs):
    document = docx.Document()
    for text in paragraphs:
        document.add_paragraph(text)
    document.save(str(path))
    return str(path)


def paragraphs(subdoc):
    return [p.text for p in subdoc.subdocx.paragraphs]


class TestVegaBlocks:
    @pytest.mark.parametrize(
        "text, blocks",
        [
            ("no charts here", []),
            ("a ```vega\n{}\n``` b", ["```vega\n{}\n```"]),
            ("```vega {} ``` x ``` y", ["```vega {} ``` x ```"]),
            ("```vega {1}```\n```vega {2}```", ["```vega {1}```", "```vega {2}```"]),
            ("```vega without a fence", []),
            ("```vega```vega {}```", ["```vega {}```"]),
            ("````vega {}```", ["```vega {}```"]),
            ("```vega-lite {}```", ["```vega-lite {}```"]),
            ("```vega {} `` ```vega {}```", ["```vega {}```"]),
            ("日本 ```vega {\"t\": \"é\"}``` ü", ["```vega {\"t\": \"é\"}```"]),
            ("\U0001F600```vega {}```", ["```vega {}```"]),
        ],
    )
    def test_parse_matches_the_regular_expression_scan(self, text, blocks):
        assert page_forge.parse_vega_charts(text) == blocks
        assert page_forge.parse_vega_charts(text=text) == reference_scan(text)

    @hypothesis.settings(max_examples=500, deadline=None)
    @hypothesis.given(hypothesis.strategies.text(alphabet="`vegalt {}\n\u00e9\u65e5\U0001F600", max_size=60))
    def test_parse_agrees_with_the_regular_expression_scan_on_any_text(self, text):
        assert page_forge.parse_vega_charts(text) == reference_scan(text)

    def test_parse_rejects_non_text(self):
        with pytest.raises(TypeError):
            page_forge.parse_vega_charts(b"```vega {}```")

    def test_render_vega_replaces_each_block_by_its_image(self, report):
        text = "A\n\n" + vega_block(VEGA_LITE) + "\n\nB\n\n" + vega_block(VEGA_LITE) + "\n"
        as_markdown_main(report)
        rendered = page_forge.render_vega(text, report)
        links = re.findall(r"!\[[^\]]*\]\(([^)]+)\)", rendered)
        assert len(links) == 2 and links[0] != links[1]
        assert "```" not in rendered and rendered.startswith("A\n\n") and "\n\nB\n\n" in rendered
        pngs = sorted(f for f in os.listdir(report.images_dir) if f.endswith(".png"))
        assert len(pngs) == 2

    def test_a_later_code_block_is_swallowed_and_fails_as_json(self, report):
        text = vega_block(VEGA_LITE) + "\n\n```python\nprint(1)\n```\n"
        with pytest.raises(json.JSONDecodeError):
            page_forge.render_vega(text, as_markdown_main(report))


def reference_scan(text):
    opener = "```vega"
    if opener not in text:
        return []
    found = []
    for piece in text[text.find(opener):].split(opener):
        found.extend(re.findall(opener + r"[\s\S]*" + "```", opener + piece))
    return found


class TestRenderers:
    def test_render_md_autoescapes_nothing_and_keeps_jinja_defaults(self, report, tmp_path):
        (tmp_path / "part.md").write_text("{% include 'inc.md' %}", encoding="utf-8")
        (tmp_path / "inc.md").write_text("Hello {{ who }}\n", encoding="utf-8")
        text = page_forge.render_md(str(tmp_path / "part.md"), {"who": "A & <B>"}, report)
        assert text == "Hello A & <B>"

    def test_render_md_renders_chart_json_from_variables(self, report, tmp_path):
        chart = dict(VEGA_LITE, data={"values": "{{ values }}"})
        source = vega_block(chart).replace('"{{ values }}"', "{{ values }}")
        (tmp_path / "chart.md").write_text(source, encoding="utf-8")
        values = json.dumps([{"a": "z", "b": 1}])
        text = page_forge.render_md(str(tmp_path / "chart.md"), {"values": values}, as_markdown_main(report))
        assert text.startswith("![") and "```" not in text

    def test_render_docx_autoescapes_and_leaves_the_file_alone(self, report, tmp_path):
        path = write_docx_section(tmp_path / "s.docx", "Value: {{ v }}")
        before = open(path, "rb").read()
        first = page_forge.render_docx(path, {"v": "A & <B>"}, report)
        second = page_forge.render_docx(file=path, context={"v": "x"}, config=report)
        assert isinstance(first, Subdoc) and first is not second
        assert paragraphs(first) == ["Value: A & <B>"]
        assert open(path, "rb").read() == before

    def test_render_docx_keeps_what_the_main_template_rendered(self, report, tmp_path):
        report.template = docxtpl.DocxTemplate(write_docx_section(tmp_path / "main.docx", "Main {{ x }}"))
        report.template.render({"x": "rendered"})
        page_forge.render_docx(write_docx_section(tmp_path / "s.docx", "x"), {}, report)
        assert [p.text for p in report.template.docx.paragraphs] == ["Main rendered"]

    def test_render_docx_needs_a_word_main_template(self, report, tmp_path):
        path = write_docx_section(tmp_path / "s.docx", "x")
        report.template = object()
        with pytest.raises(AttributeError):
            page_forge.render_docx(path, {}, report)


class TestConversion:
    def test_markdown_section_becomes_a_word_subdoc(self, report, caplog):
        placeholder = utils.LEFT_BRACKET + "p table_key_0" + utils.RIGHT_BRACKET
        md = "# Heading\n\n1. first\n2. second\n\n" + placeholder + "\n\nSee [site](https://example.org) {{ v }}\n"
        subdoc = page_forge.md_to_docx(md, {"v": "again"}, report, utils.DEFAULT_LOGGER)
        texts = paragraphs(subdoc)
        assert "Heading" in texts and placeholder in texts
        assert any(t.startswith("See site") and t.endswith("again") for t in texts) or any(
            t.startswith("See ") and t.endswith("again") for t in texts
        )
        styles = {p.style.name for p in subdoc.subdocx.paragraphs}
        assert styles & {"List Bullet", "List Bullet 2", "List Bullet 3"}
        assert os.listdir(report.images_dir) == []
        assert not [r for r in caplog.records if r.levelno >= logging.WARNING]

    def test_word_section_becomes_markdown_text(self, report, tmp_path):
        as_markdown_main(report)
        section = page_forge.render_docx(write_docx_section(tmp_path / "s.docx", "Plain {{ v }}"), {"v": "text"}, report)
        text = page_forge.docx_to_md(section, {"v": "unused"}, report)
        assert text.strip() == "Plain text"
        assert os.listdir(report.images_dir) == []

    @pytest.mark.parametrize("direction", ["md_to_docx", "docx_to_md"])
    def test_failed_conversion_leaves_no_temporary_files(self, report, tmp_path, direction):
        class BrokenConverter:
            def convert_md_to_docx(self, md_path, docx_path, reference=None):
                open(docx_path, "w").close()
                raise RuntimeError("converter broke")

            def convert_docx_to_md(self, docx_path, md_path):
                open(md_path, "w").close()
                raise RuntimeError("converter broke")

        report.converter = BrokenConverter()
        if direction == "md_to_docx":
            call = lambda: page_forge.md_to_docx("text", {}, report)
        else:
            section = page_forge.render_docx(write_docx_section(tmp_path / "s.docx", "x"), {}, report)
            call = lambda: page_forge.docx_to_md(section, {}, report)
        with pytest.raises(RuntimeError, match="converter broke"):
            call()
        assert os.listdir(report.images_dir) == []

    @pytest.mark.parametrize("with_logger", [True, False])
    def test_numbering_failure_is_a_warning_at_most(self, report, monkeypatch, caplog, with_logger):
        def broken(document):
            raise KeyError("numbering")

        monkeypatch.setattr(utils, "numbering_to_list", broken)
        subdoc = page_forge.md_to_docx("text\n", {}, report, utils.DEFAULT_LOGGER if with_logger else None)
        assert paragraphs(subdoc) == ["text"]
        warnings = [r.getMessage() for r in caplog.records if r.levelno == logging.WARNING]
        assert warnings == (["Failed to convert numbering to bullets: 'numbering'"] if with_logger else [])


class TestDriver:
    @pytest.mark.parametrize(
        "main, section, result_type",
        [
            (OutputType.DOC, "docx", Subdoc),
            (OutputType.DOC, "md", Subdoc),
            (OutputType.MD, "md", str),
            ("md", "docx", str),
        ],
    )
    def test_every_main_and_section_format(self, report, main, section, result_type):
        if main == OutputType.MD:
            as_markdown_main(report)
            report.current_template_types[:] = [main]
        path = report.sections / ("part." + section)
        if section == "docx":
            write_docx_section(path, "Model {{ name }}")
        else:
            path.write_text("# Model {{ name }}\n\n- one\n- two\n", encoding="utf-8")
        rendered = page_forge.render_template(str(path), {"name": "M1"}, report, utils.DEFAULT_LOGGER)
        assert isinstance(rendered, result_type)
        text = "\n".join(paragraphs(rendered)) if result_type is not str else rendered
        assert "Model M1" in text
        assert report.current_template_types == [main]

    def test_word_section_under_word_main_is_not_converted(self, report, monkeypatch):
        monkeypatch.setattr(report, "converter", None)
        path = write_docx_section(report.sections / "a.docx", "x")
        assert isinstance(page_forge.render_template(path, {}, report), Subdoc)

    def test_unsupported_extension_is_reported_and_absorbed(self, report, capsys, caplog, monkeypatch):
        monkeypatch.chdir(report.sections)
        assert page_forge.render_template("notes.txt", {}, report, utils.DEFAULT_LOGGER) == ""
        assert capsys.readouterr().out == "Exception occurred during rendering notes.txt:\nUnsupported extension txt\n"
        [record] = caplog.records
        assert record.levelno == logging.ERROR and "ValueError: Unsupported extension txt" in record.getMessage()
        assert report.current_template_types == [OutputType.DOC]

    def test_missing_logger_falls_back_to_the_package_logger(self, report, caplog):
        path = str(report.sections / "model" / "broken.md")
        os.mkdir(os.path.dirname(path))
        open(path, "w").write("{% if %}")
        assert page_forge.render_template(path, {}, report) == ""
        [record] = caplog.records
        assert record.name == "root" and "TemplateSyntaxError" in record.getMessage()

    def test_hard_asserts_reraise_the_same_exception(self, report, capsys):
        report.hard_asserts = True
        path = str(report.sections / "s.md")
        open(path, "w").write("{{ x.y.z }}")
        with pytest.raises(Exception) as raised:
            page_forge.render_template(path, {"x": None}, report, utils.DEFAULT_LOGGER)
        assert "rendering s.md:\n" in capsys.readouterr().out
        assert report.current_template_types == [OutputType.DOC]
        assert raised.value.__traceback__ is not None

    def test_hard_asserts_propagate_the_very_object(self, report, monkeypatch):
        report.hard_asserts = True
        error = RuntimeError("mine")

        def failing(file, context, config):
            raise error

        monkeypatch.setattr(report, "template", None)
        path = write_docx_section(report.sections / "s.docx", "x")
        monkeypatch.setattr(docxtpl.DocxTemplate, "render", lambda self, **kw: (_ for _ in ()).throw(error))
        with pytest.raises(RuntimeError) as raised:
            page_forge.render_template(path, {}, report, utils.DEFAULT_LOGGER)
        assert raised.value is error

    @pytest.mark.parametrize(
        "file, name",
        [("/x/y.md", "x.y.md"), ("{sections}/model/summary.txt", "model.summary.txt"), ("a.b/notes", "a.b/notes")],
    )
    def test_section_name_in_the_message(self, report, capsys, file, name):
        file = file.format(sections=report.template_sections_path)
        page_forge.render_template(file, {}, report, utils.DEFAULT_LOGGER)
        first_line = capsys.readouterr().out.splitlines()[0]
        assert first_line == "Exception occurred during rendering {}:".format(name.replace("/", "."))

    def test_keyboard_interrupt_is_not_absorbed_but_the_stack_is_popped(self, report, monkeypatch):
        def interrupted(*args, **kwargs):
            raise KeyboardInterrupt

        monkeypatch.setattr(docxtpl.DocxTemplate, "render", interrupted)
        path = write_docx_section(report.sections / "s.docx", "x")
        with pytest.raises(KeyboardInterrupt):
            page_forge.render_template(path, {}, report, utils.DEFAULT_LOGGER)
        assert report.current_template_types == [OutputType.DOC]

    def test_non_text_file_fails_before_the_stack_is_touched(self, report):
        with pytest.raises(AttributeError):
            page_forge.render_template(42, {}, report)
        assert report.current_template_types == [OutputType.DOC]

    def test_bad_sections_path_propagates_after_the_pop(self, report):
        report.template_sections_path = 7
        with pytest.raises(TypeError):
            page_forge.render_template("x.txt", {}, report, utils.DEFAULT_LOGGER)
        assert report.current_template_types == [OutputType.DOC]

    @pytest.mark.parametrize(
        "stack, expected",
        [(["docx", "docx"], "same"), (["md", "md"], "same"), (["docx", "md"], "md_to_docx"), (["md", "docx"], "docx_to_md")],
    )
    def test_convert_if_needed_compares_the_two_top_levels(self, report, monkeypatch, stack, expected):
        report.current_template_types[:] = stack
        template = object()
        if expected == "same":
            assert page_forge.convert_if_needed(template, {}, report) is template
            return
        report.images_dir = "/nonexistent-dir-for-conversion"
        with pytest.raises((FileNotFoundError, AttributeError)):
            page_forge.convert_if_needed(template=template, context={}, config=report)

    def test_convert_if_needed_needs_two_levels(self, report):
        with pytest.raises(ValueError, match=r"not enough values to unpack \(expected 2, got 1\)"):
            page_forge.convert_if_needed("x", {}, report)

    def test_render_any_suffix_rules(self, report, tmp_path):
        (tmp_path / "notes.xmd").write_text("plain", encoding="utf-8")
        assert page_forge.render_any(str(tmp_path / "notes.xmd"), {}, report) == "plain"
        with pytest.raises(ValueError, match="^Unsupported extension DOCX$"):
            page_forge.render_any("A.DOCX", {}, report)
