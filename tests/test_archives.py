"""The artifact archive: member layout and order, where it goes, directory copies."""

import glob
import io
import logging
import os
import stat
import zipfile
from types import SimpleNamespace

import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils import utils


def fill(directory, names):
    os.makedirs(directory, exist_ok=True)
    for name in names:
        with open(os.path.join(directory, name), "wb") as f:
            f.write(("content of " + name).encode())


def listed(directory):
    """Member names of a directory's entries, in the order glob lists them."""
    base = os.path.basename(directory)
    return [base + "/" + os.path.basename(p) for p in glob.glob(glob.escape(directory) + "/*")]


def markdown_config(output_config, folder, **options):
    os.makedirs(str(folder), exist_ok=True)
    config = output_config(os.path.join(str(folder), "summary.md"), OutputType.MD, **options)
    del config.template  # a Markdown archive never reads it
    return config


@pytest.mark.parametrize("include_artifacts", [False, True])
def test_markdown_archive_layout(tmp_path, output_config, logger, include_artifacts):
    out = tmp_path / "out"
    config = markdown_config(output_config, out)
    fill(config.images_dir, ["b_plot.png", "a_plot.png", "c.png", ".hidden.png"])
    os.mkdir(os.path.join(config.images_dir, "nested"))
    fill(os.path.join(config.images_dir, "nested"), ["inner.png"])
    fill(config.tables_dir, ["t1.csv", "t2.csv"])

    path = utils.create_artifact_zip(
        rendered_report="# Summary ✓", report_path=config.output_path, output_type=OutputType.MD,
        using_tavrel=False, config=config, logger=logger, include_artifacts=include_artifacts)

    assert path == str(out / "summary.zip")
    archive = zipfile.ZipFile(path)
    images = listed(config.images_dir)
    assert len(images) == 4 and not any(".hidden" in name for name in images)
    expected = ["summary.md"] + [n + "/" if n.endswith("nested") else n for n in images]
    if include_artifacts:
        expected += listed(config.tables_dir)
    assert archive.namelist() == expected
    assert archive.read("summary.md") == "# Summary ✓".encode("utf-8")
    image = os.path.basename(config.images_dir) + "/a_plot.png"
    assert archive.read(image) == b"content of a_plot.png"
    assert archive.getinfo(os.path.basename(config.images_dir) + "/nested/").is_dir()
    assert {info.compress_type for info in archive.infolist()} == {zipfile.ZIP_STORED}


@pytest.mark.parametrize(
    "images, tables, members",
    [
        (None, ["t.csv"], ["summary.md", "tables/t.csv"]),
        ([], ["t.csv"], ["summary.md", "tables/t.csv"]),
        ([], None, ["summary.md"]),
        (["i.png"], [], ["summary.md", "images/i.png"]),
    ],
)
def test_missing_or_empty_directories_give_no_members(tmp_path, output_config, logger, images,
                                                      tables, members):
    config = markdown_config(output_config, tmp_path)
    for directory, names in ((config.images_dir, images), (config.tables_dir, tables)):
        if names is not None:
            fill(directory, names)
    path = utils.create_artifact_zip("x", config.output_path, OutputType.MD, False, config, logger,
                                     include_artifacts=True)
    names = [name.replace(os.path.basename(config.images_dir), "images")
             .replace(os.path.basename(config.tables_dir), "tables")
             for name in zipfile.ZipFile(path).namelist()]
    assert names == members


def test_folder_name_with_pattern_characters_is_taken_literally(tmp_path, output_config, logger):
    folder = tmp_path / "runs [2024]"
    config = markdown_config(output_config, folder)
    fill(config.images_dir, ["roc.png"])
    fill(config.tables_dir, ["t.csv"])
    (tmp_path / "runs 2").mkdir()  # what "[2024]" would match as a pattern
    path = utils.create_artifact_zip("x", config.output_path, "md", False, config, logger, True)
    assert path == str(folder / "summary.zip")
    assert zipfile.ZipFile(path).namelist() == [
        "summary.md", os.path.basename(config.images_dir) + "/roc.png",
        os.path.basename(config.tables_dir) + "/t.csv"]


def test_word_archive_holds_the_template_bytes(tmp_path, output_config, word_template, logger):
    config = output_config(str(tmp_path / "model.docx"), export_artifacts=True,
                           template=word_template())
    path = utils.create_artifact_zip("ignored", config.output_path, OutputType.DOC, False, config,
                                     logger, True)
    assert path == str(tmp_path / "model.zip")
    report = zipfile.ZipFile(path).read("model.docx")
    # Each save stamps the parts with the clock, which may tick between the two.
    assert docx_parts(report) == docx_parts(utils.get_docx_file_stream(config))


def docx_parts(data):
    with zipfile.ZipFile(io.BytesIO(data)) as document:
        return [(part.filename, document.read(part)) for part in document.infolist()]


@pytest.mark.parametrize("output_type, member", [(OutputType.MD, "report.md"),
                                                 ("docx", "report.docx")])
def test_without_output_path_the_archive_goes_to_standard_output(
    tmp_path, output_config, word_template, capsysbinary, logger, output_type, member
):
    config = output_config(None, output_type, template=word_template())
    fill(config.images_dir, ["i.png"])
    before = sorted(os.listdir(tmp_path))
    print("printed first")
    result = utils.create_artifact_zip("# md", None, output_type, True, config, logger)
    assert result is None
    out = capsysbinary.readouterr().out
    assert out.startswith(b"printed first\n")
    archive = zipfile.ZipFile(io.BytesIO(out[len(b"printed first\n"):]))
    assert archive.namelist()[0] == member
    assert len(archive.namelist()) == 2
    assert sorted(os.listdir(tmp_path)) == before


def test_archive_name_and_place(tmp_path, output_config, logger):
    artifacts = tmp_path / "artifacts"
    config = markdown_config(output_config, artifacts)
    (tmp_path / "elsewhere").mkdir()
    stale = artifacts / "my.report.zip"
    stale.write_bytes(b"old archive")
    path = utils.create_artifact_zip("x", str(tmp_path / "elsewhere" / "my.report.md"), "md",
                                     False, config, logger)
    assert path == str(stale)
    assert zipfile.ZipFile(path).namelist() == ["my.report.md"]
    assert os.listdir(tmp_path / "elsewhere") == []


def test_write_to_zip_skips_and_logs_missing_files(tmp_path, caplog, logger):
    fill(tmp_path / "a", ["one.png"])
    stream = io.BytesIO()
    missing = str(tmp_path / "a" / "gone.png")
    with zipfile.ZipFile(stream, "w") as archive:
        result = utils.write_to_zip(zipfile=archive, dir_name="shown",
                                    file_list=[missing, str(tmp_path / "a" / "one.png")],
                                    logger=logger)
    assert result is None
    assert zipfile.ZipFile(stream).namelist() == ["shown/one.png"]
    assert [(r.levelno, r.getMessage()) for r in caplog.records] == [
        (logging.ERROR, " {} file is expected but does not exist".format(missing))]


def test_zipped_data_groups_are_named_after_their_first_folder(tmp_path, logger):
    fill(tmp_path / "first", ["a.png"])
    fill(tmp_path / "second", ["b.png"])
    groups = [[str(tmp_path / "first" / "a.png"), str(tmp_path / "second" / "b.png")], [],
              [str(tmp_path / "second" / "b.png")]]
    data = utils.get_zipped_data("r.md", b"bytes", groups, logger)
    assert data.tell() == 0
    archive = zipfile.ZipFile(data)
    assert archive.namelist() == ["r.md", "first/a.png", "first/b.png", "second/b.png"]
    assert archive.read("r.md") == b"bytes"


def test_final_zip_path_writes_from_the_current_position(tmp_path):
    (tmp_path / "dir").mkdir()
    config = SimpleNamespace(images_dir=str(tmp_path / "dir" / "images_key_0"))
    data = io.BytesIO(b"skipPK-rest")
    data.seek(4)
    path = utils.final_zip_path("x/report.final.md", data, config)
    assert path == str(tmp_path / "dir" / "report.final.zip")
    assert open(path, "rb").read() == b"PK-rest"


def test_copy_dir_copies_hidden_files_and_permission_bits(tmp_path):
    fill(tmp_path / "src", [".hidden", "run.sh"])
    os.chmod(tmp_path / "src" / "run.sh", 0o751)
    fill(tmp_path / "dst", ["kept"])
    assert utils.copy_dir(str(tmp_path / "src"), str(tmp_path / "dst")) is None
    assert sorted(os.listdir(tmp_path / "dst")) == [".hidden", "kept", "run.sh"]
    assert stat.S_IMODE(os.stat(tmp_path / "dst" / "run.sh").st_mode) == 0o751
    assert (tmp_path / "dst" / ".hidden").read_bytes() == b"content of .hidden"


def test_copy_dir_fails_on_a_subdirectory(tmp_path):
    (tmp_path / "src" / "sub").mkdir(parents=True)
    (tmp_path / "dst").mkdir()
    with pytest.raises(IsADirectoryError):
        utils.copy_dir(str(tmp_path / "src"), str(tmp_path / "dst"))
