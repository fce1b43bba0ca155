"""Replacing members of an existing archive, and its safety on every failure."""

import os
import random
import stat
import struct
import time
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


def patch_bytes(path, find, replace, after=0):
    """The first `find` at or after offset `after` replaced, keeping the length."""
    data = bytearray(open(path, "rb").read())
    at = data.index(find, after)
    data[at:at + len(find)] = replace
    open(path, "wb").write(bytes(data))


def start_dir(path):
    with zipfile.ZipFile(path) as archive:
        return archive.start_dir


def wrong_directory_crc(path, name):
    with zipfile.ZipFile(path) as archive:
        crc = archive.getinfo(name).CRC
    crc_bytes = struct.pack("<I", crc)
    patch_bytes(path, crc_bytes, struct.pack("<I", crc ^ 1), after=start_dir(path))


DAMAGES = {
    "not a zip": not_a_zip,
    "stored data": lambda path: patch_bytes(path, b"old report", b"old rep0rt"),
    "deflated data's CRC": lambda path: wrong_directory_crc(path, "images/a.png"),
    "local name": lambda path: patch_bytes(path, b"report.md", b"report.me"),
    "truncated directory": lambda path: patch_bytes(path, b"PK\x05\x06", b"PK\x05\x06" +
                                                     b"\x00" * 8 + b"\xff\xff"),
    "directory signature": lambda path: patch_bytes(path, b"PK\x01\x02", b"PK\x01\x03"),
}


@pytest.mark.parametrize(
    "damage, changed, error, message",
    [
        (None, ["nothing.md"], FileNotFoundError, None),
        (None, ["report.md", "nothing.md"], FileNotFoundError, None),
        ("not a zip", ["report.md"], zipfile.BadZipFile, "File is not a zip file"),
        ("stored data", ["extra.csv"], zipfile.BadZipFile, "Bad CRC-32 for file 'report.md'"),
        ("deflated data's CRC", ["extra.csv"], zipfile.BadZipFile,
         "Bad CRC-32 for file 'images/a.png'"),
        ("local name", ["extra.csv"], zipfile.BadZipFile,
         "File name in directory 'report.md' and header b'report.me' differ."),
        ("truncated directory", ["extra.csv"], zipfile.BadZipFile,
         "Bad offset for central directory"),
        ("directory signature", ["extra.csv"], zipfile.BadZipFile,
         "Bad magic number for central directory"),
    ],
)
def test_failure_leaves_the_archive_and_no_leftovers(archive, new_files, damage, changed, error,
                                                     message):
    if damage is not None:
        DAMAGES[damage](archive)
    before = open(archive, "rb").read()
    with pytest.raises(error) as raised:
        utils.update_zip(archive, [str(new_files / name) for name in changed])
    if message is not None:
        assert str(raised.value) == message
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


def test_no_file_stays_open(archive, new_files):
    folder = os.path.dirname(archive)

    def open_in_folder():  # the process's descriptors on files of the archive's folder
        found = []
        for fd in os.listdir("/proc/self/fd"):
            try:
                target = os.readlink(os.path.join("/proc/self/fd", fd))
            except OSError:  # closed meanwhile
                continue
            if target.startswith(folder + os.sep):
                found.append(target)
        return found

    utils.update_zip(archive, [str(new_files / "report.md")])
    deadline = time.monotonic() + 5  # the old archive is closed by a helper thread
    while open_in_folder() and time.monotonic() < deadline:
        time.sleep(0.01)
    assert open_in_folder() == []


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


def local_records(path):
    """Each member's name and its bytes as stored: local header, data, data descriptor."""
    with zipfile.ZipFile(path) as archive:
        infos, end = archive.infolist(), archive.start_dir
    data = open(path, "rb").read()
    starts = sorted(info.header_offset for info in infos) + [end]
    following = dict(zip(starts, starts[1:]))
    return [(i.filename, data[i.header_offset:following[i.header_offset]]) for i in infos]


class Unseekable:
    """A stream zipfile cannot seek in, so it ends each member with a data descriptor."""

    def __init__(self, file):
        self.file = file

    def write(self, data):
        return self.file.write(data)

    def flush(self):
        self.file.flush()


def with_data_descriptors(path):
    with open(path, "wb") as f, zipfile.ZipFile(Unseekable(f), "w") as archive:
        archive.writestr("stored.txt", b"stored " * 100)
        archive.writestr("packed.txt", b"packed " * 100, compress_type=zipfile.ZIP_DEFLATED)
        archive.comment = b"streamed"


def prefixed(path):
    make_archive(path)
    data = open(path, "rb").read()
    open(path, "wb").write(b"#!/bin/sh launcher\n" * 20 + data)


def with_zip64_headers(path):
    with zipfile.ZipFile(path, "w") as archive:
        for name in ("a.bin", "b.bin"):
            with archive.open(name, "w", force_zip64=True) as member:
                member.write(name.encode() * 500)


def with_encoded_names(path):
    """A UTF-8 name (flagged) and a code page 437 one (not flagged): 0x82 is "é"."""
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("naïve.txt", b"utf-8 name")
        archive.writestr("cafe.txt", b"cp437 name")
    data = open(path, "rb").read().replace(b"cafe.txt", b"caf\x82.txt")
    open(path, "wb").write(data)


def with_encrypted_flag(path):
    """A member flagged as encrypted: its data cannot be checked, only kept."""
    with zipfile.ZipFile(path, "w") as archive:
        archive.writestr("secret.bin", b"ciphertext")
        archive.writestr("plain.txt", b"plain")
    data = bytearray(open(path, "rb").read())
    for signature, flags_at in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        at = data.index(signature)  # secret.bin comes first in both
        data[at + flags_at] |= 0x01
    open(path, "wb").write(bytes(data))


ARCHIVE_KINDS = {
    "made by zipfile": make_archive,
    "data descriptors": with_data_descriptors,
    "prefixed": prefixed,
    "zip64 local headers": with_zip64_headers,
    "encoded names": with_encoded_names,
    "encrypted flag": with_encrypted_flag,
}


@pytest.mark.parametrize("kind", ARCHIVE_KINDS)
def test_kept_members_are_copied_as_stored(tmp_path, new_files, kind):
    path = str(tmp_path / "kind.zip")
    ARCHIVE_KINDS[kind](path)
    old_records, old_stored = records(path), local_records(path)
    with zipfile.ZipFile(path) as archive:
        comment = archive.comment

    utils.update_zip(path, [str(new_files / "extra.csv")])

    new_records, new_stored = records(path), local_records(path)
    assert new_records[:-1] == old_records and new_stored[:-1] == old_stored
    with zipfile.ZipFile(path) as archive:
        assert archive.comment == comment
        assert archive.read("extra.csv") == b"x,y"
        if kind != "encrypted flag":
            assert archive.testzip() is None
    assert sorted(os.listdir(tmp_path)) == ["kind.zip", "new"]


def test_names_match_as_zipfile_decodes_them(tmp_path):
    path = str(tmp_path / "names.zip")
    with_encoded_names(path)
    (tmp_path / "café.txt").write_bytes(b"replaced")
    utils.update_zip(path, [str(tmp_path / "café.txt")])
    assert contents(path)[0] == [("naïve.txt", b"utf-8 name"), ("café.txt", b"replaced")]


def test_many_members_take_the_zip64_end_records(tmp_path, new_files):
    path = str(tmp_path / "many.zip")
    with zipfile.ZipFile(path, "w") as archive:
        for i in range(0x10000):
            archive.writestr(zipfile.ZipInfo(str(i)), b"")
    utils.update_zip(path, [str(new_files / "extra.csv")])
    data = open(path, "rb").read()
    assert data.rfind(b"PK\x06\x06") > data.rfind(b"PK\x01\x02")  # after the directory
    with zipfile.ZipFile(path) as archive:
        names = archive.namelist()
    assert len(names) == 0x10001 and names[-2:] == ["65535", "extra.csv"]


def test_changed_files_of_one_name_warn_as_zipfile_does(tmp_path, archive, new_files):
    other = tmp_path / "other"
    other.mkdir()
    (other / "extra.csv").write_bytes(b"second")
    with pytest.warns(UserWarning, match="Duplicate name: 'extra.csv'") as warned:
        utils.update_zip(archive, [str(new_files / "extra.csv"), str(other / "extra.csv")])
    assert warned[0].filename == __file__  # the caller's line
    assert contents(archive)[0][-2:] == [("extra.csv", b"x,y"), ("extra.csv", b"second")]


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


def test_large_members_are_kept_and_replaced(large_archive, tmp_path):
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
