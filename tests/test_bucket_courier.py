"""Publishing to an S3 bucket: real boto3 against a local moto server."""

import configparser
import inspect

import boto3
import pytest

from velmo_brevant.utils import bucket_courier
from velmo_brevant.utils.bucket_courier import (
    BucketCourier,
    get_aws_credentials_from_env,
    s3_url_checker,
)

HOST = "s3.amazonaws.com"
VIRTUAL = "Given output_path is a s3 URL matches pattern 'https://<bucket>.s3.amazonaws.com/...'."
PATH_STYLE = "Given output_path is a s3 URL matches pattern 'https://s3.amazonaws.com/<bucket>/...' "
URI = "Given output_path is a s3 URI matches pattern 's3://<bucket>/...' "
LOCAL = "Given output_path points to a local directory. "
CONVERTED = "Converted given s3 URL to URI format "
ACCESS_KEY, SECRET_KEY = "AKIAFAKEACCESS", "fake/Secret+Key/0123456789"


def inaccessible(location):
    return (
        "The s3 bucket specified with the " + location + " does not exist or inaccessible. \\\n"
        + " " * 20 + "\n Also please check whether your internet connection is stable."
    )


# Location check ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "path, uri, pattern",
    [
        ("https://reports.s3.amazonaws.com/q1/report.docx", "s3://reports/q1/report.docx", VIRTUAL),
        ("http://reports.s3.amazonaws.com/", "s3://reports/", VIRTUAL),
        ("https://team.s3.archive.s3.amazonaws.com/q1/", "s3://team.s3.archive/q1/", VIRTUAL),
        ("https://s3.amazonaws.com/reports/q1/", "s3://reports/q1/", PATH_STYLE),
        ("https://s3.amazonaws.com/reports", "s3://reports/", PATH_STYLE),
        ("https://s3.amazonaws.com/reports/q1/a.md?versionId=3", "s3://reports/q1/a.md", PATH_STYLE),
    ],
)
def test_s3_url_checker_converts_urls(root_log, path, uri, pattern):
    assert s3_url_checker(path) == (True, uri)
    assert root_log.messages() == [("INFO", pattern), ("INFO", CONVERTED + uri)]


@pytest.mark.parametrize(
    "path, accepted, message",
    [
        ("s3://reports/q1/", True, URI),
        ("s3://Not A Bucket!", True, URI),
        ("s3://reports", True, URI),
        ("https://reports.s3.eu-west-1.amazonaws.com/q1/", False, LOCAL),
        ("https://S3.amazonaws.com/reports/", False, LOCAL),
        ("reports/q1/report.docx", False, LOCAL),
        ("", False, LOCAL),
    ],
)
def test_s3_url_checker_keeps_other_text(root_log, path, accepted, message):
    assert s3_url_checker(output_path=path) == (accepted, path)
    assert root_log.messages() == [("INFO", message)]


def test_s3_url_checker_none_warns_and_other_types_are_rejected_first(root_log):
    assert s3_url_checker(None) == (None, None)
    assert root_log.messages() == [("WARNING", "Config does not contain *output_path*.")]
    root_log.clear()
    for bad in (7, b"s3://reports/", ("s3://reports/",)):
        with pytest.raises(TypeError, match="'output_path' must be str or None, not " + type(bad).__name__):
            s3_url_checker(bad)
    assert root_log.messages() == []


def test_s3_url_checker_documentation_and_patterns():
    assert s3_url_checker.__doc__ == (
        "Checks whether a given output_path is a s3 url. If output path is anyform\n"
        "    of s3 url funtion will return (True, s3 URI) else function will return (False, path).\n"
        "\n"
        "    :param output_path: str: output path or s3 url\n"
        "    :return: tuple: (bool, str)\n"
        "    "
    )
    assert str(inspect.signature(s3_url_checker)) == "(output_path: str) -> tuple"
    assert s3_url_checker.__annotations__ == {"output_path": str, "return": tuple}
    host = HOST.replace(".", r"\.")
    assert bucket_courier.URL_PATTERN_ONE.pattern == (
        r"http(s)?:\/{2}[a-z|A-Z|0-9|\-|\_|\.]*\." + host + r"\/"
    )
    assert bucket_courier.URL_PATTERN_TWO.pattern == r"http(s)?:\/{2}" + host + r"\/"
    assert bucket_courier.URL_PATTERN_THREE.pattern == r"s3:\/{2}[a-z|A-Z|0-9|\-|\_|\.]*\/"


# Key pair ---------------------------------------------------------------------------------


def test_credentials_file_wins_over_environment(home, monkeypatch):
    monkeypatch.setenv("AWS_ACCESS_KEY_ID", "env-access")
    monkeypatch.setenv("AWS_SECRET_ACCESS_KEY", "env-secret")
    assert get_aws_credentials_from_env() == ("env-access", "env-secret")
    home.credentials(".aws/credentials", aws_access_key_id="file-access", aws_secret_access_key="file-secret")
    assert get_aws_credentials_from_env() == ("file-access", "file-secret")


@pytest.mark.parametrize(
    "variables, missing",
    [
        ({}, "AWS_ACCESS_KEY_ID"),
        ({"AWS_SECRET_ACCESS_KEY": SECRET_KEY}, "AWS_ACCESS_KEY_ID"),
        ({"AWS_ACCESS_KEY_ID": ACCESS_KEY}, "AWS_SECRET_ACCESS_KEY"),
    ],
)
def test_missing_key_is_logged_and_none(home, monkeypatch, root_log, variables, missing):
    for name, value in variables.items():
        monkeypatch.setenv(name, value)
    assert get_aws_credentials_from_env() is None
    assert root_log.messages() == [("ERROR", "'%s is missing in your environment.'" % missing)]
    assert SECRET_KEY not in root_log.text()


def test_incomplete_credentials_file_propagates_the_parser_error(home):
    home.credentials(".aws/credentials", "work", aws_access_key_id="a", aws_secret_access_key="s")
    with pytest.raises(configparser.NoSectionError):
        get_aws_credentials_from_env()
    home.credentials(".aws/credentials", aws_access_key_id="a")
    with pytest.raises(configparser.NoOptionError):
        get_aws_credentials_from_env()


# Against the local S3 ----------------------------------------------------------------


@pytest.fixture
def s3(local_s3):
    """A boto3 client of the local S3 with the bucket "reports"."""
    client = boto3.client("s3", aws_access_key_id=ACCESS_KEY, aws_secret_access_key=SECRET_KEY)
    client.create_bucket(Bucket="reports")
    return client


@pytest.fixture
def courier(s3):
    return BucketCourier(ACCESS_KEY, secret_key=SECRET_KEY)


@pytest.fixture
def report(tmp_path):
    path = tmp_path / "out" / "report.docx"
    path.parent.mkdir()
    path.write_bytes(b"report bytes")
    return path


def keys(s3):
    return [entry["Key"] for entry in s3.list_objects_v2(Bucket="reports").get("Contents", [])]


def test_courier_shape(local_s3):
    courier = BucketCourier(access_key=ACCESS_KEY, secret_key=SECRET_KEY)
    assert list(vars(courier)) == ["s3", "s3_client"]
    assert courier.s3.meta.service_name == "s3" and courier.s3_client.meta.service_model.service_name == "s3"
    members = [name for name in vars(BucketCourier) if not name.startswith("__") or name == "__init__"]
    assert members == ["__init__", "upload_file", "check_bucket_access", "check_storage_access", "push"]
    assert str(inspect.signature(BucketCourier.upload_file)) == "(self, filename, bucket_uri, object_name='')"
    assert type(BucketCourier) is type and BucketCourier.__bases__ == (object,)


def test_bucket_access(courier, root_log):
    assert courier.check_bucket_access("s3://reports/q1/") is True
    assert root_log.messages() == [("INFO", "Bucket exists and accessible!!!")]
    assert courier.check_storage_access("s3://reports") is None
    root_log.clear()
    assert courier.check_bucket_access(uri="s3://missing/q1/") is False
    [(level, message)] = root_log.messages()
    assert level == "ERROR" and "404" in message
    with pytest.raises(ValueError) as raised:
        courier.check_storage_access("s3://missing/q1/")
    assert str(raised.value) == inaccessible("s3://missing/q1/")


def test_a_uri_without_bucket_part_is_a_clear_error(courier, report):
    for call in (courier.check_bucket_access, lambda uri: courier.upload_file(str(report), uri)):
        with pytest.raises(ValueError) as raised:
            call("reports")
        assert str(raised.value) == "The S3 location reports names no bucket: expected s3://<bucket>/<key>."
    assert report.exists()


@pytest.mark.parametrize(
    "uri, object_name, key",
    [
        ("s3://reports/q1/", "", "q1/report.docx"),
        ("s3://reports/q1/final.docx", "", "q1/final.docx"),
        ("s3://reports/q1/notes.md/", "", "q1/notes.md/report.docx"),
        ("s3://reports/", "", "report.docx"),
        ("s3://reports/q1", "", "q1/report.docx"),
        ("s3://reports", "", "report.docx"),
        ("s3://reports/q1/", "renamed.docx", "q1/renamed.docx"),
        ("s3://reports/q1/final.docx", "renamed.docx", "q1/final.docx/renamed.docx"),
    ],
)
def test_upload_file_keys(courier, s3, report, root_log, uri, object_name, key):
    assert courier.upload_file(str(report), uri, object_name) == "s3://reports/" + key
    assert keys(s3) == [key]
    assert s3.get_object(Bucket="reports", Key=key)["Body"].read() == b"report bytes"
    assert not report.exists()
    assert ("INFO", "Upload to S3 Successful!!!") in root_log.messages()


def test_push_uploads_and_consumes_the_report(courier, s3, report):
    assert courier.push(report_path=str(report), remote_output_path="s3://reports/q2/") is None
    assert keys(s3) == ["q2/report.docx"] and not report.exists()


def test_failed_upload_keeps_the_report_and_push_raises(courier, report, root_log):
    assert courier.upload_file(str(report), "s3://missing/q1/") is None
    [(level, message)] = [m for m in root_log.messages() if m[0] == "ERROR"]
    assert "NoSuchBucket" in message
    assert report.read_bytes() == b"report bytes"
    with pytest.raises(RuntimeError) as raised:
        courier.push(str(report), "s3://missing/q1/")
    assert str(raised.value) == (
        "Pushing %s to s3://missing/q1/ failed (the error is logged above); the local file %s is kept."
        % (report, report)
    )
    assert report.exists()


def test_missing_local_file_is_logged(courier, s3, tmp_path, root_log):
    assert courier.upload_file(str(tmp_path / "gone.docx"), "s3://reports/q1/") is None
    assert [m[0] for m in root_log.messages()] == ["ERROR"]
    assert keys(s3) == []


def test_interrupted_upload_propagates_and_keeps_the_report(courier, s3, report):
    class Interrupting:
        def upload_file(self, filename, bucket, key):
            raise KeyboardInterrupt

    courier.s3_client = Interrupting()
    with pytest.raises(KeyboardInterrupt):
        courier.push(str(report), "s3://reports/q1/")
    assert report.exists() and keys(s3) == []


def test_without_keys_boto3_finds_none_and_the_bucket_is_unreachable(local_s3, root_log):
    courier = BucketCourier(None, None)
    with pytest.raises(ValueError) as raised:
        courier.check_storage_access("s3://reports/q1/")
    assert str(raised.value) == inaccessible("s3://reports/q1/")
    assert root_log.messages() == [("ERROR", "Unable to locate credentials")]


def test_without_keys_boto3_uses_its_own_credentials(local_s3, home, s3, report):
    home.credentials(".aws/credentials", aws_access_key_id=ACCESS_KEY, aws_secret_access_key=SECRET_KEY)
    courier = BucketCourier(None, None)
    assert courier.check_bucket_access("s3://reports/") is True
    courier.push(str(report), "s3://reports/")
    assert keys(s3) == ["report.docx"]


def test_secret_key_reaches_no_log_or_error(courier, report, root_log):
    texts = []
    for call in (
        lambda: courier.check_storage_access("s3://missing/"),
        lambda: courier.push(str(report), "s3://missing/q1/"),
    ):
        with pytest.raises(Exception) as raised:
            call()
        texts.append(str(raised.value))
    courier.push(str(report), "s3://reports/q1/")
    assert all(SECRET_KEY not in text for text in texts + [root_log.text()])
