"""Images, hyperlinks and Vega charts as template values."""

import io
import json
import os
import re
import sys

import pytest
from docx.opc.constants import RELATIONSHIP_TYPE as RT
from docx.shared import Mm
from docxtpl import InlineImage, RichText
from PIL import Image

from velmo_brevant.utils import utils

L, R = "XXXLLLLXXX", "XXXRRRRXXX"


def parked(config, placeholder):
    """The value a plain or rich-text placeholder stands for."""
    key = re.fullmatch(L + "(?:r )?(.*)" + R, placeholder).group(1)
    return config.runtime["context"][key]


def png(path, size, dpi=(72, 72)):
    image = Image.new("RGB", size, "white")
    image.paste((20, 90, 200), (0, 0, size[0] // 3, size[1]))
    image.save(path, dpi=dpi)
    return str(path)


def image_parts(tpl):
    return [rel for rel in tpl.docx.part.rels.values() if rel.reltype == RT.IMAGE]


@pytest.mark.parametrize("relative, expected", [
    ("images_key_0f/plot.png", "images_key_0f/plot.png"),
    ("images_2024/run1/images_key_0f/plot.png", "images_key_0f/plot.png"),
    ("images_key_0f/sub/plot.png", "images_key_0f/sub/plot.png"),
    ("reports/plot_images.png", None),
    ("reports/images.png", None),
])
def test_markdown_image_reference_starts_at_the_image_directory(report_config, relative, expected):
    config = report_config("md")
    path = "/data/x/" + relative
    assert utils.image_path_to_template_var(path, config) == "![]({})".format(expected or path)


@pytest.mark.parametrize("meta, html, expected", [
    ({"plot": {"align": "right"}}, True, "<img src='images_k/plot.png' width='180' align='right'/>"),
    ({"plot": {"width": 50}}, True, "<img src='images_k/plot.png' width='180' align='left'/>"),
    ({}, True, "![](images_k/plot.png)"),
    ({"plot": {"align": "right"}}, False, "![](images_k/plot.png)"),
])
def test_markdown_image_html_form(report_config, meta, html, expected):
    config = report_config("md")
    result = utils.image_path_to_template_var("/r/images_k/plot.png", config, 180, meta, html)
    assert result == expected


def test_markdown_image_path_is_not_opened_and_must_be_text(report_config):
    config = report_config("md")
    assert utils.image_path_to_template_var("images_x/missing.png", config) == (
        "![](images_x/missing.png)")
    with pytest.raises(TypeError, match="image path must be a str, not int"):
        utils.image_path_to_template_var(3, config)


@pytest.mark.parametrize("size, dpi, width, expected", [
    ((2000, 1000), (100, 100), 180, (Mm(180), None)),  # landscape: 180 x 90 mm
    ((1000, 2000), (100, 100), 180, (None, Mm(240))),  # tall: 360 mm high at 180 mm wide
    ((100, 80), (100, 100), 50, (Mm(50), None)),  # small: placed at the width asked for
    ((2000, 1000), (100, 100), 300, (Mm(180), None)),  # cut to the page width
])
def test_word_image_is_sized_to_fit_the_page(report_config, tmp_path, size, dpi, width, expected):
    config = report_config("docx")
    path = png(tmp_path / "plot.png", size, dpi)
    value = parked(config, utils.image_path_to_template_var(path, config, width=width))
    assert isinstance(value, InlineImage)
    assert (value.tpl, value.image_descriptor) == (config.template, path)
    assert (value.width, value.height) == expected


def test_word_image_without_width_keeps_its_native_size_unmeasured(report_config, tmp_path):
    config = report_config("docx")
    value = parked(config, utils.image_path_to_template_var(
        png(tmp_path / "p.png", (30, 20)), config, width=None))
    assert (value.width, value.height) == (None, None)
    assert config.template.docx is None or image_parts(config.template) == []


def test_word_image_width_must_be_a_number(report_config, tmp_path):
    # Mm would repeat a text width 36000 times (gigabytes for a long text).
    config = report_config("docx")
    with pytest.raises(TypeError, match="must be real number, not str"):
        utils.image_path_to_template_var(png(tmp_path / "p.png", (30, 20)), config, width="x" * 1000)


def test_actual_sizes_scales_to_one_given_length(report_config, tmp_path):
    config = report_config("docx")
    path = png(tmp_path / "p.png", (400, 300), (100, 100))  # 101.6 x 76.2 mm
    width, height = utils.actual_sizes(config.template, path, width=Mm(50))
    assert (type(width), type(height)) == (float, float)
    assert width == pytest.approx(50, abs=1e-3) and height == pytest.approx(37.5, abs=1e-3)
    assert utils.actual_sizes(config.template, path, height=Mm(30)) == pytest.approx((40, 30))
    assert len(image_parts(config.template)) == 1  # added once, found the second time
    for sizes in ({}, {"width": Mm(1), "height": Mm(1)}):
        with pytest.raises(AssertionError, match="^Specify either height or width$"):
            utils.actual_sizes(config.template, path, **sizes)


@pytest.mark.parametrize("args, expected", [
    ((100, 100), (Mm(100), None)),
    ((180, 240), (Mm(180), None)),
    ((200, 100), (Mm(180), None)),
    ((100, 300), (None, Mm(240))),
    ((200, 300), (None, Mm(240))),  # 270 mm high once 180 mm wide: the height is capped
    ((200, 266), (Mm(180), None)),  # 239.4 mm high once 180 mm wide
    ((50, 50, 40, 100), (Mm(40), None)),
    ((20.5, 10), (Mm(20.5), None)),
])
def test_find_optimal_size_fits_both_limits(args, expected):
    result = utils.find_optimal_size(*args)
    assert result == expected
    assert [type(x) for x in result] == [type(x) for x in expected]


def test_find_optimal_size_rejects_non_numbers():
    with pytest.raises(TypeError):
        utils.find_optimal_size("200", 100)


def test_urls(report_config):
    md = report_config("md")
    assert utils.url_to_template_var(md, "https://u.example") == "[here](https://u.example)"
    assert utils.url_to_template_var(md, "u", text="doc") == "[doc](u)"

    word = report_config("docx", "md")
    value = parked(word, utils.url_to_template_var(word, "https://u.example/a?b=1&c=2", "doc"))
    assert isinstance(value, RichText)
    (rel_id,) = re.findall(r'r:id="([^"]+)"', value.xml)
    rel = word.template.docx.part.rels[rel_id]
    assert (rel.reltype, rel.target_ref, rel.is_external) == (
        RT.HYPERLINK, "https://u.example/a?b=1&c=2", True)
    assert "<w:u w:val=\"single\"/>" in value.xml and ">doc</w:t>" in value.xml


@pytest.mark.parametrize("call", [
    lambda c: utils.url_to_template_var(c, "u"),
    lambda c: utils.image_path_to_template_var("images_a/p.png", c),
])
def test_unsupported_main_format(report_config, call):
    config = report_config("docx")
    config.main_template_type = "html"
    with pytest.raises(ValueError, match="^template format type not supported$"):
        call(config)


VEGA_LITE = {
    "$schema": "https://vega.github.io/schema/vega-lite/v5.json",
    "data": {"values": [{"a": "A", "b": 3}, {"a": "B", "b": 5}, {"a": "C", "b": 2}]},
    "mark": "bar",
    "encoding": {"x": {"field": "a", "type": "nominal"}, "y": {"field": "b", "type": "quantitative"}},
}
VEGA = {
    "$schema": "https://vega.github.io/schema/vega/v5.json",
    "width": 120, "height": 80,
    "marks": [{"type": "rect", "encode": {"enter": {
        "x": {"value": 10}, "y": {"value": 10}, "width": {"value": 60}, "height": {"value": 40},
        "fill": {"value": "steelblue"}}}}],
}
WITHOUT_SCHEMA = [{k: v for k, v in spec.items() if k != "$schema"} for spec in (VEGA_LITE, VEGA)]


def assert_real_png(path):
    with open(path, "rb") as handle:
        data = handle.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    image = Image.open(io.BytesIO(data))
    low, high = image.convert("L").getextrema()
    assert low < high, "blank image"
    return image


@pytest.mark.parametrize("spec", [VEGA_LITE, VEGA] + WITHOUT_SCHEMA)
def test_vega_chart_becomes_a_fresh_png(report_config, spec):
    config = report_config("md")
    existing = os.path.join(config.images_dir, "image_keep.png")
    with open(existing, "wb") as handle:
        handle.write(b"keep")
    first = utils.vega_to_template_var(config, json.dumps(spec))
    second = utils.vega_to_template_var(config, json.dumps(spec), width=None)
    names = [re.fullmatch(r"!\[\]\((images_key_[0-9a-f]{32}/(.*))\)", x).group(2)
             for x in (first, second)]
    assert names[0] != names[1]
    assert all(re.fullmatch("image_[0-9a-f]{32}[.]png", name) for name in names)
    assert sorted(os.listdir(config.images_dir)) == sorted(names + ["image_keep.png"])
    assert open(existing, "rb").read() == b"keep"
    for name in names:
        assert_real_png(os.path.join(config.images_dir, name))


def test_vega_chart_is_sharp_where_it_is_placed(report_config):
    config = report_config("docx")
    small = dict(VEGA, width=40, height=20)
    utils.vega_to_template_var(config, json.dumps(small))
    utils.vega_to_template_var(config, json.dumps(small), width=None)
    images = {}
    for name in os.listdir(config.images_dir):
        image = assert_real_png(os.path.join(config.images_dir, name))
        images[round(image.info["dpi"][0])] = image
    # Placed 180 mm wide: at least 300 pixels per inch there.
    (placed_dpi,) = [dpi for dpi in images if dpi > 301]
    assert images[placed_dpi].size[0] >= 180 / 25.4 * 300 - 1
    # Native size: the chart's own size (72 pixels per inch) at 300 pixels per inch.
    assert 300 in images and images[300].size[0] * 72 / 300 == pytest.approx(
        images[placed_dpi].size[0] * 72 / placed_dpi, rel=0.02)
    values = [v for v in config.runtime["context"].values()]
    assert [type(v) for v in values] == [InlineImage, InlineImage]


@pytest.mark.parametrize("text, error", [
    ("{not json", json.JSONDecodeError),
    ("[1, 2]", ValueError),
])
def test_vega_chart_errors_write_nothing(report_config, text, error):
    config = report_config("md")
    with pytest.raises(error):
        utils.vega_to_template_var(config, text)
    assert os.listdir(config.images_dir) == []


def test_vega_chart_needs_the_exporter_at_the_call(report_config, monkeypatch):
    config = report_config("md")
    monkeypatch.setitem(sys.modules, "vl_convert", None)
    with pytest.raises(ImportError):
        utils.vega_to_template_var(config, json.dumps(VEGA_LITE))
    assert os.listdir(config.images_dir) == []


def test_vega_chart_needs_the_image_directory(report_config):
    config = report_config("md")
    os.rmdir(config.images_dir)
    with pytest.raises(FileNotFoundError):
        utils.vega_to_template_var(config, json.dumps(VEGA_LITE))


def test_collect_images(report_config, tmp_path):
    config = report_config("md")
    for name in ("a.png", "a.jpg", "b.png", "c.PNG", "d.jpeg", "notes.txt"):
        with open(os.path.join(config.images_dir, name), "wb") as handle:
            handle.write(b"x")
    width_map = {"b": {"html": True, "align": "right", "width": 40}}
    images = utils.collect_images(config, width_map=width_map)
    directory = os.path.basename(config.images_dir)
    last_a = [n for n in os.listdir(config.images_dir) if n.startswith("a.")][-1]
    assert images == {
        "a": "![]({}/{})".format(directory, last_a),
        "b": "<img src='{}/b.png' width='40' align='right'/>".format(directory),
    }
    assert width_map == {"b": {"html": True, "align": "right", "width": 40}}


def test_collect_images_word_default_width(report_config):
    config = report_config("docx")
    png(os.path.join(config.images_dir, "p.png"), (400, 400), (100, 100))
    (value,) = utils.collect_images(config).values()
    inline = parked(config, value)
    assert (inline.width, inline.height) == (Mm(80), None)


@pytest.mark.parametrize("name, expected", [
    ("a.png", True), ("a.jpg", True), ("a.jpeg", False), ("a.PNG", False), ("png", False),
])
def test_is_image_file(name, expected):
    assert utils.is_image_file(name) is expected


def test_get_nested_dict():
    nested = {"a": {"x": 1}}
    assert utils.get_nested_dict(nested, "a", "x", 0) == 1
    assert utils.get_nested_dict(nested, "a", "y", 0) == 0
    assert utils.get_nested_dict(nested, "b", "x", "d") == "d"


def test_has_template_is_a_cooperative_base():
    calls = []

    class Drawing:
        def __init__(self):
            calls.append("drawing")
            super().__init__()

    class Plot(utils.HasTemplate, Drawing):
        def __init__(self):
            super().__init__()
            calls.append("plot")

    assert utils.HasTemplate.__bases__ == (object,)
    assert utils.HasTemplate.__module__ == "velmo_brevant.utils.utils"
    plot = Plot()
    assert calls == ["drawing", "plot"] and plot._template is None
    assert plot.set_template("tpl") is None and plot._template == "tpl"
    assert vars(utils.HasTemplate()) == {"_template": None}


def test_assertions_are_skipped_when_optimised(tmp_path):
    import subprocess

    path = png(tmp_path / "p.png", (400, 300), (100, 100))
    code = (
        "from docxtpl import DocxTemplate; from docx.shared import Mm;"
        "from velmo_brevant.utils import utils;"
        "tpl = DocxTemplate(utils.get_default_template_path());"
        "print(utils.actual_sizes(tpl, %r, width=Mm(10), height=Mm(20)))" % path
    )
    out = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True,
                         check=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert out.stdout.strip() == "(10.0, 20.0)"
