"""The sample report from end to end, as a new user runs it, read back like a reader would."""

import io
import os
import subprocess
import sys
import zipfile

import docx
import pytest

from velmo_brevant.demo import generate_sample_report
from velmo_brevant.utils import utils

ROWS = 600
LEFTOVERS = (utils.LEFT_BRACKET, utils.RIGHT_BRACKET, "{{", "{%", "```", "TABLE_VARIABLE")


def assert_no_leftovers(text):
    for marker in LEFTOVERS:
        assert marker not in text, marker


def word_text(document):
    parts = [p.text for p in document.paragraphs]
    for table in document.tables:
        parts.extend(cell.text for row in table.rows for cell in row.cells)
    return "\n".join(parts)


def test_word_report_has_its_tables_images_link_and_sections(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    progress = tmp_path / "progress.txt"
    assert generate_sample_report("report.docx", rows=ROWS, progress_file=str(progress)) == "report.docx"
    assert sorted(os.listdir(tmp_path)) == ["progress.txt", "report.docx"]
    document = docx.Document("report.docx")
    text = word_text(document)
    assert_no_leftovers(text)
    headings = [p.text for p in document.paragraphs if p.style.name.startswith("Heading")]
    for heading in ("Executive summary", "Data summary", "Feature importance", "Model performance"):
        assert heading in headings
    # metadata table, data summary, importance (with folded rows), performance, response rates
    assert len(document.tables) == 5
    assert "Others (Positive)" in text and "GINI" in text and "annual_income" in text
    assert len(document.inline_shapes) == 2  # the bar plot and the ROC chart
    xml = document.element.xml
    assert "w:hyperlink" in xml
    assert any("Receiver_operating_characteristic" in rel.target_ref for rel in document.part.rels.values())
    assert progress.read_text().split("\n")[:2] == ["done", "1"]


def test_markdown_report_with_artifacts_is_one_archive(tmp_path):
    archive = generate_sample_report(str(tmp_path / "report.md"), export_artifacts=True, rows=ROWS)
    assert archive == str(tmp_path / "report.zip")
    assert os.listdir(tmp_path) == ["report.zip"]
    with zipfile.ZipFile(archive) as zipped:
        names = zipped.namelist()
        markdown = zipped.read("report.md").decode("utf-8")
    assert names[0] == "report.md"
    images = [n for n in names if n.startswith("images_key_") and n.endswith(".png")]
    tables = [n for n in names if n.startswith("tables_key_") and n.endswith(".csv")]
    assert len(images) == 2 and len(tables) == 4
    for image in images:
        assert "![](%s)" % image in markdown
    assert "[ROC analysis](https://" in markdown
    assert "| Others (Negative)" in markdown
    assert_no_leftovers(markdown.replace("```json", "").replace("```", "", 1))


def test_report_to_s3(local_s3, monkeypatch, tmp_path):
    import boto3

    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "testing-key")
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "testing-secret")
    client = boto3.client("s3")
    client.create_bucket(Bucket="reports")
    assert generate_sample_report("s3://reports/models/", rows=ROWS) == "s3://reports/models/"
    [key] = [item["Key"] for item in client.list_objects_v2(Bucket="reports")["Contents"]]
    assert key.startswith("models/Experiment_Report_") and key.endswith(".docx")
    body = client.get_object(Bucket="reports", Key=key)["Body"].read()
    assert_no_leftovers(word_text(docx.Document(io.BytesIO(body))))
    assert os.listdir(tmp_path) == ["home"]


@pytest.mark.parametrize(
    "arguments, message",
    [
        (["demo", "report.txt"], "OUTPUT must end in .docx or .md"),
        (["demo", "missing/report.docx"], "the directory of OUTPUT does not exist: missing"),
        (["demo"], "the following arguments are required: OUTPUT"),
        (["demo", "r.docx", "--rows", "x"], "invalid int value"),
        (["report"], "invalid choice"),
    ],
)
def test_command_line_rejects_bad_arguments_in_one_line(tmp_path, arguments, message):
    result = subprocess.run(
        [sys.executable, "-m", "velmo_brevant"] + arguments, cwd=str(tmp_path), capture_output=True, text=True
    )
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and message in result.stderr
    assert os.listdir(tmp_path) == []


def test_command_line_writes_the_report_and_says_where(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "velmo_brevant", "demo", "r.docx", "--rows", str(ROWS)],
        cwd=str(tmp_path),
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "Report written to r.docx\n"
    assert "[100%]" in result.stderr
    assert os.listdir(tmp_path) == ["r.docx"]
