"""The logger services: exception reports, commands, matplotlib set-up, progress files."""

import enum
import logging
import os
import re
import subprocess
import sys
import tempfile

import pytest

from velmo_brevant.utils import utils


class Status(enum.Enum):
    RUNNING = "running"


def test_handle_exception_prints_and_logs_the_handled_traceback(capsys, caplog, logger):
    try:
        raise KeyError("boom")
    except KeyError:
        utils.handle_exception("it failed", logger)
    assert capsys.readouterr().out == "it failed\n"
    [record] = caplog.records
    assert record.levelno == logging.ERROR
    assert record.getMessage().startswith("Traceback (most recent call last):")
    assert record.getMessage().rstrip().endswith("KeyError: 'boom'")


def test_handle_exception_outside_a_handler_logs_what_traceback_formats(caplog, logger):
    utils.handle_exception(42, logger)
    assert caplog.records[0].getMessage() == "NoneType: None\n"


def test_run_simple_command_logs_output(caplog_info, logger):
    utils.run_simple_command([sys.executable, "-c", "print('hello')"], logger)
    assert [r.getMessage() for r in caplog_info.records] == ["hello\n"]


def test_run_simple_command_silent_and_failing_commands(caplog_info, logger):
    assert utils.run_simple_command([sys.executable, "-c", "import sys; sys.exit(3)"], logger) is None
    assert caplog_info.records == []


def test_run_simple_command_missing_program_is_reported_not_raised(capsys, caplog, logger):
    assert utils.run_simple_command(["no-such-program-xyz"], logger) is None
    printed = capsys.readouterr().out
    assert "No such file or directory" in printed and "no-such-program-xyz" in printed
    [record] = caplog.records
    assert record.levelno == logging.ERROR
    assert "FileNotFoundError" in record.getMessage()
    assert record.getMessage().startswith("Traceback")


def test_run_simple_command_lets_keyboard_interrupt_through(monkeypatch, logger):
    def interrupted(*args, **kwargs):
        raise KeyboardInterrupt

    monkeypatch.setattr(subprocess, "Popen", interrupted)
    with pytest.raises(KeyboardInterrupt):
        utils.run_simple_command(["true"], logger)


@pytest.mark.parametrize("cache_set", [True, False])
def test_matplotlib_import_cache_directory(tmp_path, cache_set):
    code = (
        "import os, tempfile, sys\n"
        "import velmo_brevant.utils.utils as u\n"
        "u.matplotlib_import()\n"
        "import matplotlib\n"
        "print(os.environ['XDG_CACHE_HOME']); print(matplotlib.get_backend().lower())\n"
        "print(sorted(os.listdir(tempfile.gettempdir())))\n"
    )
    env = dict(os.environ, TMPDIR=str(tmp_path / "tmp"))
    os.mkdir(env["TMPDIR"])
    env.pop("XDG_CACHE_HOME", None)
    env.pop("MPLBACKEND", None)
    if cache_set:
        env["XDG_CACHE_HOME"] = str(tmp_path / "cache")
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
    cache, backend, temporaries = out.stdout.splitlines()
    assert backend == "agg"
    if cache_set:
        assert cache == env["XDG_CACHE_HOME"]
        assert temporaries == "[]"
    else:
        assert os.path.dirname(cache) == env["TMPDIR"]
        assert os.path.isdir(cache)


@pytest.mark.parametrize("empty", [None, ""])
def test_write_progress_without_file_writes_nothing(tmp_path, monkeypatch, empty):
    monkeypatch.chdir(tmp_path)
    utils.write_progress(empty, 0.5, Status.RUNNING)
    assert os.listdir(tmp_path) == []


def test_write_progress_replaces_the_file_with_three_lines(tmp_path):
    path = tmp_path / "progress"
    path.write_text("old\n")
    utils.write_progress(progress_file=str(path), progress=0.25, status=Status.RUNNING)
    status, progress, stamp, rest = path.read_text().split("\n")
    assert (status, progress, rest) == ("running", "0.25", "")
    assert re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", stamp)
    assert os.listdir(tmp_path) == ["progress"]


def test_write_progress_into_missing_directory_raises(tmp_path):
    with pytest.raises(FileNotFoundError):
        utils.write_progress(str(tmp_path / "missing" / "progress"), 1, Status.RUNNING)
