"""Output routing: classification, local file names and the hand-over to the couriers."""

import enum
import os
import pickle
import re
import time

import boto3
import pytest

from velmo_brevant.base.enums import OutputType
from velmo_brevant.utils.bucket_courier import BucketCourier
from velmo_brevant.utils.output_router import OutputRouter, StorageType
from velmo_brevant.utils.repo_courier import RepoCourier

NOT_VALID = (
    "\n" + " " * 20 + "Given output_path/URL is not valid or supported.\n\n" + " " * 20
    + "If given output_path points to a local storage, ensure the directory is valid and accessible.\n"
    + " " * 20
)
STAMP = r"Experiment_Report_\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d"
GIT_URL = "https://github.com/acme/reports/tree/main/docs"


def stamps_around(call):
    """The result of call() and the UTC time stamps of the seconds before and after it."""
    pattern = "Experiment_Report_%Y-%m-%d-%H-%M-%S"
    before = time.strftime(pattern, time.gmtime())
    result = call()
    return result, {before, time.strftime(pattern, time.gmtime())}


def test_router_and_enum_shape(home):
    router = OutputRouter("report.docx", OutputType.DOC)
    assert list(vars(router)) == ["url", "_storage_type", "storage", "storage_output_path", "main_template_type"]
    assert type(OutputRouter) is type and OutputRouter.__bases__ == (object,)
    assert isinstance(vars(OutputRouter)["temp_filename"], property)
    with pytest.raises(AttributeError):
        router.temp_filename = "other.docx"
    assert issubclass(StorageType, enum.Enum) and not issubclass(StorageType, str)
    assert [(m.name, m.value) for m in StorageType] == [("GIT", "git"), ("S3", "s3"), ("LOCAL", "local")]
    assert pickle.loads(pickle.dumps(StorageType.S3)) is StorageType.S3
    import velmo_brevant.utils.output_router as module

    assert [name for name in vars(module) if not name.startswith("__")] == ["OutputRouter", "StorageType"]


@pytest.mark.parametrize("name", ["report.docx", "report", "notes.MD"])
def test_bare_names_are_local(home, root_log, name):
    router = OutputRouter(url=name, main_template_type="docx")
    assert (router._storage_type, router.storage, router.storage_output_path) == (StorageType.LOCAL, None, name)
    assert router.temp_filename == name
    assert root_log.messages() == [
        ("INFO", "Given output_path not a GIT URL. "),
        ("INFO", "Given output_path points to a local directory. "),
    ]


def test_local_path_into_an_existing_directory_keeps_it(home, tmp_path):
    path = str(tmp_path / "final")
    assert OutputRouter(path, OutputType.MD).temp_filename == path
    with pytest.raises(AttributeError):
        OutputRouter(path, OutputType.MD).check_access()
    with pytest.raises(AttributeError):
        OutputRouter(path, OutputType.MD).push(path)


@pytest.mark.parametrize(
    "url, message",
    [
        ("missing-dir/report.docx", NOT_VALID),
        ("", "Given output_path/URL is not specified."),
        (None, "Given output_path/URL is not specified."),
    ],
)
def test_rejected_locations(home, root_log, url, message):
    with pytest.raises(ValueError) as raised:
        OutputRouter(url, OutputType.DOC)
    assert str(raised.value) == message
    assert len(root_log.messages()) == 2  # both checkers ran first


def test_non_str_locations_are_type_errors(home):
    with pytest.raises(TypeError):
        OutputRouter(b"report.docx", OutputType.DOC)


@pytest.mark.parametrize(
    "url, template_type, expected",
    [
        ("s3://reports/q1/final.md", OutputType.DOC, "final.md"),
        ("s3://reports/q1/final.docx", OutputType.MD, "final.docx"),
        ("s3://reports/q1/", OutputType.MD, STAMP + r"\.md"),
        ("s3://reports/q1/", "md", STAMP + r"\.md"),
        ("s3://reports/q1", OutputType.DOC, STAMP + r"\.docx"),
        ("s3://reports/q1/", "docx", STAMP + r"\.docx"),
        ("s3://reports/q1/FINAL.DOCX", "docx", STAMP + r"\.docx"),
    ],
)
def test_s3_temp_file_names(home, monkeypatch, root_log, url, template_type, expected):
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "a")
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "s")
    router = OutputRouter(url, template_type)
    assert router._storage_type is StorageType.S3 and isinstance(router.storage, BucketCourier)
    root_log.clear()
    name, stamps = stamps_around(lambda: router.temp_filename)
    assert re.fullmatch(expected, name)
    if expected.startswith(STAMP):
        assert os.path.splitext(name)[0] in stamps
        message = "Given s3 URL ends without a filename, using filename " + name
    else:
        message = "Given s3 URL ends with a file name, using same filename " + name + " to render the Brevant."
    assert root_log.messages() == [("INFO", message)]


def test_git_location_gets_a_courier_and_a_time_stamped_name(home, monkeypatch, root_log):
    monkeypatch.setenv("GITHUB_PAT", "ghp_router_token")
    router = OutputRouter(GIT_URL, OutputType.DOC)
    assert router._storage_type is StorageType.GIT and router.storage_output_path == GIT_URL
    assert isinstance(router.storage, RepoCourier) and router.storage._personal_access_token == "ghp_router_token"
    root_log.clear()
    name = router.temp_filename
    assert re.fullmatch(STAMP + r"\.docx", name)
    assert root_log.messages() == [("INFO", "Given git URL ends without a filename, using filename " + name)]
    assert router.get_temp_file_name(GIT_URL + "/a/b.md") == "b.md"
    with pytest.raises(TypeError):
        router.get_temp_file_name(None)


def test_git_location_without_token_still_classifies(home, root_log):
    router = OutputRouter(GIT_URL, "docx")
    assert router.storage._personal_access_token is None
    assert ("ERROR", "'GITHUB_PAT is missing in your environment.'") in root_log.messages()


def test_git_destination_end_to_end(home, monkeypatch, fake_github, tmp_path):
    monkeypatch.setenv("GITHUB_PAT", fake_github.token)
    fake_github.add_repo("acme/reports", {"main": {"docs/old.md": b""}})
    router = OutputRouter(GIT_URL, OutputType.DOC)
    router.storage.github = fake_github.client(fake_github.token)
    report = tmp_path / router.temp_filename
    report.write_bytes(b"rendered")
    router.check_access()
    router.push(str(report))
    [commit] = fake_github.commits
    assert commit["path"] == "docs/" + report.name and commit["content"] == b"rendered"
    assert not report.exists()
    missing = OutputRouter("https://github.com/acme/missing/tree/main/", "docx")
    missing.storage.github = router.storage.github
    with pytest.raises(ValueError, match="^The git repo specified with the https://github.com/acme/missing/"):
        missing.check_access()


def test_s3_destination_end_to_end(local_s3, monkeypatch, tmp_path):
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "a")
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "s")
    boto3.client("s3").create_bucket(Bucket="reports")
    router = OutputRouter("https://reports.s3.amazonaws.com/q1/final.docx", OutputType.DOC)
    assert router.storage_output_path == "s3://reports/q1/final.docx"
    report = tmp_path / router.temp_filename
    report.write_bytes(b"rendered")
    router.check_access()
    router.push(report)
    body = boto3.client("s3").get_object(Bucket="reports", Key="q1/final.docx")["Body"].read()
    assert body == b"rendered" and not report.exists()


def test_s3_without_key_pair_leaves_credentials_to_boto3(local_s3, root_log):
    router = OutputRouter("s3://reports/q1/", OutputType.DOC)
    assert isinstance(router.storage, BucketCourier)
    assert ("ERROR", "'AWS_ACCESS_KEY_ID is missing in your environment.'") in root_log.messages()
    with pytest.raises(ValueError) as raised:
        router.check_access()
    assert str(raised.value).startswith("The s3 bucket specified with the s3://reports/q1/ does not exist")
