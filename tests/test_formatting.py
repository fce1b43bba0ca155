"""Sizes, durations and file names as the report shows them."""

import pytest

from velmo_brevant.utils import utils


@pytest.mark.parametrize(
    "size, text",
    [
        (1, "1.0 B"),
        (1023, "1023.0 B"),
        (1024, "1.0 KiB"),
        (1048575, "1024.0 KiB"),
        (1024**3, "1.0 GiB"),
        (10**9, "953.7 MiB"),
        (1024**5, "1.0 PiB"),
        (1024**6, "1024.0 PiB"),
        (1536.0, "1.5 KiB"),
    ],
)
def test_format_size(size, text):
    assert utils.format_size(size) == text


@pytest.mark.parametrize("size", [0, -5])
def test_format_size_needs_a_positive_size(size):
    with pytest.raises((OverflowError, ValueError)):
        utils.format_size(byte_size=size)


@pytest.mark.parametrize(
    "seconds, sentence, clock",
    [
        (0.25, "250 milliseconds", "0:00:00.250000"),
        (0, "0 milliseconds", "0:00:00"),
        (45, "45 seconds", "0:00:45"),
        (45.9, "45 seconds", "0:00:45"),
        (125, "2 minutes and 5 seconds", "0:02:05"),
        (7200, "2 hours and 0 minutes", "2:00:00"),
        (90061, "1 days and 1 hours", "1 day, 1:01:01"),
        (-60, "23 hours and 59 minutes", "-1 day, 23:59:00"),
    ],
)
def test_format_time(seconds, sentence, clock):
    assert utils.format_time(seconds) == {"formatted_time": sentence, "string_time": clock}


def test_format_time_text_and_bad_values():
    assert utils.format_time("soon") == {"formatted_time": "N/A", "string_time": "soon"}
    with pytest.raises(TypeError):
        utils.format_time(None)
    with pytest.raises(OverflowError):
        utils.format_time(10**30)


@pytest.mark.parametrize(
    "path, ext, name",
    [
        ("/tmp/out/report.docx", True, "report.docx"),
        ("/tmp/out/report.docx", False, "report"),
        ("archive.tar.gz", False, "archive.tar"),
        ("/tmp/out/", True, ""),
    ],
)
def test_get_file_name(path, ext, name):
    assert utils.get_file_name(path, ext=ext) == name


def test_get_file_name_default_keeps_extension():
    assert utils.get_file_name("a/b.md") == "b.md"
