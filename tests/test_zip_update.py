"""Replacing members of an existing archive, and its safety on every failure."""

import os
import random
import stat
import warnings
import zipfile
import zlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from velmo_brevant.utils import utils

RECORD_FIELDS = ("filename", "date_time", "compress_type", "external_attr", "comment", "CRC",
                 "file_size", "create_system", "extra")


def make_archive(path):
    """report.md at the top, images/a.png deflated with its own date, attributes and
    comment, an empty folder member, and an archive comment."""
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = b"archive comment"
        archive.writestr(zipfile.ZipInfo("report.md", (2020, 1, 2, 3, 4, 6)), b"old report")
        image = zipfile.ZipInfo("images/a.png", (2019, 5, 6, 7, 8, 10))
        image.compress_type = zipfile.ZIP_DEFLATED
        image.external_attr = 0o640 << 16
        image.comment = b"member comment"
        archive.writestr(image, b"\x89PNG" + b"pixels" * 1000)
        archive.writestr(zipfile.ZipInfo("images/", (2019, 5, 6, 7, 8, 10)), b"")
    return str(path)


def records(path):
    with zipfile.ZipFile(path) as archive:
        return [{f: getattr(i, f) for f in RECORD_FIELDS} for i in archive.infolist()]


def contents(path):
    with zipfile.ZipFile(path) as archive:
        return [(i.filename, archive.read(i)) for i in archive.infolist()], archive.comment


@pytest.fixture
def archive(tmp_path):
    (tmp_path / "store").mkdir()
    return make_archive(tmp_path / "store" / "bundle.zip")


@pytest.fixture
def new_files(tmp_path):
    folder = tmp_path / "new"
    folder.mkdir()
    for name, data in (("report.md", b"new report"), ("a.png", b"top image"),
                       ("extra.csv", b"x,y")):
        (folder / name).write_bytes(data)
    return folder


@pytest.mark.parametrize(
    "changed, kept, added",
    [
        (["report.md"], ["images/a.png", "images/"], ["report.md"]),
        ("report.md", ["images/a.png", "images/"], ["report.md"]),
        (["extra.csv"], ["report.md", "images/a.png", "images/"], ["extra.csv"]),
        (["a.png", "report.md"], ["images/a.png", "images/"], ["a.png", "report.md"]),
    ],
)
def test_replaced_and_kept_members(archive, new_files, changed, kept, added):
    old = {r["filename"]: r for r in records(archive)}
    old_data = dict(contents(archive)[0])
    paths = ([str(new_files / n) for n in changed] if isinstance(changed, list)
             else str(new_files / changed))

    assert utils.update_zip(archive, paths) is None

    members, comment = contents(archive)
    assert comment == b"archive comment"
    assert [name for name, _ in members] == kept + added
    new = records(archive)
    for record in new[: len(kept)]:
        assert record == old[record["filename"]]
    for name, data in members[: len(kept)]:
        assert data == old_data[name]
    for record, (name, data) in zip(new[len(kept):], members[len(kept):]):
        assert data == (new_files / name).read_bytes()
        assert record["compress_type"] == zipfile.ZIP_STORED
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]


@pytest.mark.parametrize("changed", [[], None, ""])
def test_nothing_to_change_touches_nothing(archive, changed):
    before = open(archive, "rb").read()
    mtime = os.stat(archive).st_mtime_ns
    assert utils.update_zip(archive, changed) is None
    assert open(archive, "rb").read() == before and os.stat(archive).st_mtime_ns == mtime
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]


def test_tuple_fails_before_any_file_is_made(archive, new_files):
    before = open(archive, "rb").read()
    with pytest.raises(TypeError):
        utils.update_zip(archive, (str(new_files / "report.md"),))
    assert open(archive, "rb").read() == before
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]


def not_a_zip(path):
    with open(path, "wb") as f:
        f.write(b"this is no archive")


@pytest.mark.parametrize(
    "damage, error",
    [
        ("missing changed file", FileNotFoundError),
        ("not a zip", zipfile.BadZipFile),
        ("second changed file missing", FileNotFoundError),
    ],
)
def test_failure_leaves_the_archive_and_no_leftovers(archive, new_files, damage, error):
    if damage == "not a zip":
        not_a_zip(archive)
    before = open(archive, "rb").read()
    changed = {"missing changed file": [str(new_files / "nothing.md")],
               "not a zip": [str(new_files / "report.md")],
               "second changed file missing": [str(new_files / "report.md"),
                                               str(new_files / "nothing.md")]}[damage]
    with pytest.raises(error):
        utils.update_zip(archive, changed)
    assert open(archive, "rb").read() == before
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]


def test_failed_rename_puts_the_archive_back(archive, new_files, monkeypatch):
    before = open(archive, "rb").read()
    real_rename = os.rename
    calls = []

    def rename(src, dst):
        calls.append((os.path.basename(src), os.path.basename(dst)))
        if len(calls) == 2:
            raise PermissionError("rename refused")
        real_rename(src, dst)

    monkeypatch.setattr(os, "rename", rename)
    with pytest.raises(PermissionError, match="rename refused"):
        utils.update_zip(archive, [str(new_files / "report.md")])
    assert calls[0] == ("bundle.zip", "bundle_orig.zip")
    assert calls[2] == ("bundle_orig.zip", "bundle.zip")
    assert open(archive, "rb").read() == before
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]


def test_missing_archive_gets_a_stale_backup_back(tmp_path, new_files):
    store = tmp_path / "store"
    store.mkdir()
    make_archive(store / "bundle_orig.zip")
    backup = (store / "bundle_orig.zip").read_bytes()
    with pytest.raises(FileNotFoundError):
        utils.update_zip(str(store / "bundle.zip"), [str(new_files / "report.md")])
    assert os.listdir(store) == ["bundle.zip"]
    assert (store / "bundle.zip").read_bytes() == backup


def test_stale_backup_is_gone_after_success(archive, new_files):
    backup = os.path.join(os.path.dirname(archive), "bundle_orig.zip")
    not_a_zip(backup)
    utils.update_zip(archive, str(new_files / "report.md"))
    assert os.listdir(os.path.dirname(archive)) == ["bundle.zip"]
    assert contents(archive)[0][-1] == ("report.md", b"new report")


@pytest.mark.parametrize(
    "folder, name",
    [
        ("store", "report.docx"),  # no ".zip": the backup can never be the archive
        ("store", "bundle"),
        ("runs.zip.d", "bundle.zip"),  # ".zip" in a folder name stays out of the backup name
    ],
)
def test_archive_names_without_zip_or_with_zip_in_the_folder(tmp_path, new_files, folder, name):
    (tmp_path / folder).mkdir()
    path = make_archive(tmp_path / folder / name)
    utils.update_zip(path, [str(new_files / "report.md")])
    assert os.listdir(tmp_path / folder) == [name]
    assert contents(path)[0][-1] == ("report.md", b"new report")


def test_relative_archive_path_in_the_working_directory(archive, new_files, monkeypatch):
    monkeypatch.chdir(os.path.dirname(archive))
    utils.update_zip("bundle.zip", [str(new_files / "extra.csv")])
    assert os.listdir(".") == ["bundle.zip"]
    assert contents("bundle.zip")[0][-1] == ("extra.csv", b"x,y")


def test_new_archive_keeps_the_permission_bits(archive, new_files):
    os.chmod(archive, 0o644)
    utils.update_zip(archive, [str(new_files / "report.md")])
    assert stat.S_IMODE(os.stat(archive).st_mode) == 0o644


@pytest.mark.filterwarnings("ignore:Duplicate name")
def test_duplicate_member_names_keep_their_own_data(tmp_path, new_files):
    path = str(tmp_path / "dup.zip")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with zipfile.ZipFile(path, "w") as archive:
            archive.writestr("same.txt", b"first")
            archive.writestr("same.txt", b"second")
    utils.update_zip(path, [str(new_files / "extra.csv")])
    assert contents(path)[0] == [("same.txt", b"first"), ("same.txt", b"second"),
                                 ("extra.csv", b"x,y")]


# Members and files larger than one copy chunk (1 MiB) take the streamed paths.
CHUNK = 1 << 20


def random_bytes(size, seed):
    return random.Random(seed).getrandbits(8 * size).to_bytes(size, "little")


@pytest.fixture
def large_archive(tmp_path):
    """A large stored member, a large deflated one and a small one between them."""
    path = str(tmp_path / "large.zip")
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = b"large"
        archive.writestr(zipfile.ZipInfo("big.bin", (2001, 2, 3, 4, 5, 6)),
                         random_bytes(2 * CHUNK + 17, 1))
        archive.writestr("small.txt", b"small")
        packed = zipfile.ZipInfo("packed.txt", (2002, 3, 4, 5, 6, 8))
        packed.compress_type = zipfile.ZIP_DEFLATED
        packed.external_attr = 0o644 << 16
        archive.writestr(packed, b"a line of text\n" * 150_000)
        archive.writestr("report.md", b"old")
    return path


class PlainWriter(zipfile._ZipWriteFile):
    """zipfile's member writer under another name: fed the data as any writer is."""


@pytest.mark.parametrize("writer", ["zipfile's", "another"])
def test_large_members_are_kept_and_replaced(large_archive, tmp_path, monkeypatch, writer):
    if writer == "another":
        monkeypatch.setattr(zipfile, "_ZipWriteFile", PlainWriter)
    old = {r["filename"]: r for r in records(large_archive)}
    old_data = dict(contents(large_archive)[0])
    new_report = tmp_path / "report.md"
    new_report.write_bytes(random_bytes(CHUNK + 1000, 2))

    utils.update_zip(large_archive, [str(new_report)])

    with zipfile.ZipFile(large_archive) as archive:
        assert archive.testzip() is None  # every CRC checked by zipfile
        assert archive.comment == b"large"
        assert archive.namelist() == ["big.bin", "small.txt", "packed.txt", "report.md"]
        for name in ("big.bin", "small.txt", "packed.txt"):
            assert archive.read(name) == old_data[name]
        assert archive.read("report.md") == new_report.read_bytes()
        assert archive.getinfo("report.md").compress_type == zipfile.ZIP_STORED
    for record in records(large_archive)[:3]:
        assert record == old[record["filename"]]


@settings(max_examples=30, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(extra=st.integers(min_value=1, max_value=3000), seed=st.integers(0, 2**32 - 1))
def test_streamed_data_carries_the_zlib_crc(tmp_path, extra, seed):
    data = random_bytes(CHUNK + extra, seed)
    source = tmp_path / "data.bin"
    source.write_bytes(data)
    path = str(tmp_path / "crc.zip")
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("first.txt", b"x" * (seed % 7))  # the kept member's data starts unaligned
    utils.update_zip(path, [str(source)])  # the file is streamed in
    (tmp_path / "n.txt").write_bytes(b"n")
    utils.update_zip(path, [str(tmp_path / "n.txt")])
    with zipfile.ZipFile(path) as archive:  # ... and streamed out of the old archive
        assert archive.getinfo("data.bin").CRC == zlib.crc32(data)
        assert archive.read("data.bin") == data


@pytest.mark.parametrize(
    "damage, error, message",
    [
        ("data", zipfile.BadZipFile, "Bad CRC-32 for file 'big.bin'"),
        ("header", zipfile.BadZipFile, "Bad magic number for file header"),
    ],
)
def test_damaged_large_member_fails_and_leaves_the_archive(large_archive, tmp_path, damage,
                                                           error, message):
    with zipfile.ZipFile(large_archive) as archive:
        offset = archive.getinfo("big.bin").header_offset
    data = bytearray(open(large_archive, "rb").read())
    data[offset + (CHUNK if damage == "data" else 0)] ^= 0xFF
    open(large_archive, "wb").write(bytes(data))
    (tmp_path / "n.txt").write_bytes(b"n")
    with pytest.raises(error) as raised:
        utils.update_zip(large_archive, [str(tmp_path / "n.txt")])
    assert str(raised.value) == message
    assert open(large_archive, "rb").read() == bytes(data)
    assert sorted(os.listdir(tmp_path)) == ["large.zip", "n.txt"]
