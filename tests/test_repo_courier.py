"""Publishing to a GitHub branch directory: real PyGithub against the local GitHub fake."""

import configparser
import importlib
import inspect

import github
import pip
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from fakes.github_server import blob_sha
from velmo_brevant.utils import repo_courier
from velmo_brevant.utils.repo_courier import (
    RepoCourier,
    get_git_personal_access_token,
    git_url_checker,
)

URL_FORM = (
    "https://github.com/<organization or username>/<repo name>/tree/<branch name>/<directory name>"
)
GIT_MESSAGE = "Given output_path is a git URL matches pattern" + " " * 17 + "'" + URL_FORM + "'"
NOT_GIT = "Given output_path not a GIT URL. "
BASE = "https://github.com/acme/reports"
NOT_FOUND = (
    "Repository acme/{} does not exists \\\n" + " " * 16
    + "or not accessible using given personal access token."
)
STATIC_METHODS = ["get_all_file_paths", "get_directory_name", "get_repo_name", "get_branch_name"]


# Location check ------------------------------------------------------------------------


@pytest.mark.parametrize(
    "path, accepted",
    [
        (BASE + "/tree/main/docs", True),
        ("http://github.com/org/repo/tree/main/docs", True),
        ("https://github.com/", True),
        ("https://github.com/org/repo?tab=readme#top", True),
        ("https://githubXcom/org/repo", True),  # the dot of the host matches any character
        ("https://GitHub.com/org/repo", False),
        ("https://github.com", False),
        ("ftp://github.com/org/repo", False),
        (" https://github.com/org/repo", False),
        ("/tmp/reports/report.docx", False),
        ("", False),
    ],
)
def test_git_url_checker(root_log, path, accepted):
    assert git_url_checker(path) == (accepted, path)
    assert root_log.messages() == [("INFO", GIT_MESSAGE if accepted else NOT_GIT)]


def test_git_url_checker_none_warns_and_other_types_are_rejected_first(root_log):
    assert git_url_checker(output_path=None) == (None, None)
    assert root_log.messages() == [("WARNING", "Config does not contain *output_path*.")]
    root_log.clear()
    for bad in (1, b"https://github.com/org/repo", ["https://github.com/"]):
        with pytest.raises(TypeError, match="'output_path' must be str or None, not " + type(bad).__name__):
            git_url_checker(bad)
    assert root_log.messages() == []


def test_git_url_checker_is_annotated_and_pattern_is_as_written():
    assert str(inspect.signature(git_url_checker)) == "(output_path: str) -> tuple"
    assert git_url_checker.__annotations__ == {"output_path": str, "return": tuple}
    assert git_url_checker.__module__ == "velmo_brevant.utils.repo_courier"
    assert repo_courier.GIT_URL_PATTERN.pattern == r"http(s)?:\/{2}github.com\/[a-z|A-Z|0-9|\-|\_|\/]*"


# Access token ------------------------------------------------------------------------------


def test_token_file_wins_over_environment(home, monkeypatch):
    monkeypatch.setenv("GITHUB_PAT", "from-env")
    assert get_git_personal_access_token() == "from-env"
    home.credentials(".git_brevant/credentials", git_personal_access_token="from-file")
    assert get_git_personal_access_token() == "from-file"


def test_missing_token_is_logged_and_none(home, root_log):
    assert get_git_personal_access_token() is None
    assert root_log.messages() == [("ERROR", "'GITHUB_PAT is missing in your environment.'")]


@pytest.mark.parametrize(
    "section, values, error",
    [
        ("other", {"git_personal_access_token": "t"}, configparser.NoSectionError),
        ("default", {"token": "t"}, configparser.NoOptionError),
    ],
)
def test_incomplete_token_file_propagates_the_parser_error(home, monkeypatch, section, values, error):
    monkeypatch.setenv("GITHUB_PAT", "from-env")
    home.credentials(".git_brevant/credentials", section, **values)
    with pytest.raises(error):
        get_git_personal_access_token()


# Class shape and PyGithub import ------------------------------------------------------------


def test_courier_shape(home):
    courier = RepoCourier(personal_access_token=None)
    assert list(vars(courier)) == [
        "_personal_access_token",
        "_RepoCourier__Github",
        "_RepoCourier__UnknownObjectException",
        "github",
    ]
    assert courier._personal_access_token is None
    assert courier._RepoCourier__Github is github.Github
    exceptions = importlib.import_module("github.GithubException")
    assert courier._RepoCourier__UnknownObjectException is exceptions.UnknownObjectException
    assert isinstance(courier.github, github.Github)
    assert type(RepoCourier) is type and RepoCourier.__bases__ == (object,)
    assert RepoCourier.__module__ == "velmo_brevant.utils.repo_courier"
    members = [name for name in vars(RepoCourier) if not name.startswith("__") or name == "__init__"]
    assert members == [
        "__init__",
        "_RepoCourier__dynamic_imports",
        "push_file",
        "get_git_repo",
        *STATIC_METHODS,
        "check_storage_access",
        "push",
    ]
    for name in STATIC_METHODS:
        assert isinstance(vars(RepoCourier)[name], staticmethod), name
    assert str(inspect.signature(RepoCourier.push_file)) == "(self, file_path, git_url)"


def test_missing_pygithub_is_installed_with_pip_and_imported_again(home, monkeypatch):
    real_import = importlib.import_module
    imports, installs = [], []

    def import_module(name, package=None):
        imports.append((name, package))
        if len(imports) == 1:
            raise ModuleNotFoundError("No module named 'github'")
        return real_import(name, package)

    monkeypatch.setattr(importlib, "import_module", import_module)
    monkeypatch.setattr(pip, "main", lambda args: installs.append(list(args)) or 0)
    courier = RepoCourier("t")
    assert installs == [["install", "PyGithub==1.55"]]
    assert imports == [
        ("github", "PyGithub"),
        ("github", "PyGithub"),
        ("github.GithubException", "PyGithub"),
    ]
    assert courier._RepoCourier__Github is github.Github


def test_a_second_import_failure_propagates(home, monkeypatch):
    def import_module(name, package=None):
        raise ModuleNotFoundError("No module named " + repr(name))

    installs = []
    monkeypatch.setattr(importlib, "import_module", import_module)
    monkeypatch.setattr(pip, "main", lambda args: installs.append(args) or 1)
    with pytest.raises(ModuleNotFoundError):
        RepoCourier("t")
    assert len(installs) == 1


# URL cutting -------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "url, branch, directory",
    [
        (BASE + "/tree/main/reports/2021", "main", "reports/2021"),
        (BASE + "/tree/main/reports/final.docx", "main", "reports"),
        (BASE + "/tree/main/final.docx", "main", ""),
        (BASE + "/tree/main/", "main", ""),
        (BASE + "/tree/main", "main", ""),
        (BASE + "/tree/main/reports//", "main", "reports"),
        (BASE + "/tree/main/docs/main/x", "main", "docs/main/x"),
        ("https://github.com/acme/domain/tree/main/docs", "main", "docs"),
        ("https://github.com/main/repo/tree/main/docs/notes.md", "main", "docs"),
        (BASE + "/tree/feature/x/reports", "feature/x", "reports"),
        (BASE + "/tree/docs/dev", "dev", ""),
    ],
)
def test_get_directory_name(url, branch, directory):
    assert RepoCourier.get_directory_name(url, branch) == directory
    assert RepoCourier.get_directory_name(git_url=url, branch_name=branch) == directory


@pytest.mark.parametrize(
    "url, branch, message",
    [
        (
            BASE + "/blob/main/docs",
            "main",
            "The git URL " + BASE + "/blob/main/docs names no branch: expected " + URL_FORM + ".",
        ),
        (
            BASE + "/tree/main/docs",
            "dev",
            "The branch dev does not follow /tree/ in the git URL " + BASE + "/tree/main/docs.",
        ),
        (BASE + "/tree/mainline/docs", "main", None),
    ],
)
def test_get_directory_name_errors(url, branch, message):
    with pytest.raises(ValueError) as raised:
        RepoCourier.get_directory_name(url, branch)
    if message:
        assert str(raised.value) == message


def test_get_repo_name():
    assert RepoCourier.get_repo_name(BASE + "/tree/main/docs") == "acme/reports"
    assert RepoCourier.get_repo_name("https://github.com/acme/reports") == "acme/reports"
    with pytest.raises(ValueError) as raised:
        RepoCourier.get_repo_name("https://github.com/acme")
    assert str(raised.value) == (
        "The git URL https://github.com/acme names no repository: expected " + URL_FORM + "."
    )
    with pytest.raises(TypeError):
        RepoCourier.get_repo_name(b"https://github.com/acme/reports")


# Against the local GitHub ---------------------------------------------------------------


@pytest.fixture
def courier(fake_github, home):
    courier = RepoCourier(fake_github.token)
    courier.github = fake_github.client(fake_github.token)
    return courier


@pytest.fixture
def report(tmp_path):
    path = tmp_path / "out" / "report.docx"
    path.parent.mkdir()
    path.write_bytes(b"new report")
    return path


@pytest.mark.parametrize(
    "tail, branch, printed",
    [
        ("feature/x/reports", "feature/x", ""),
        ("feature/x", "feature/x", ""),
        ("main/", "main", ""),
        ("main", "main", ""),
        ("feature/y/z", "feature", ""),
        ("docs/dev", "dev", "found match\n"),
        ("a/b/feature/x", "feature/x", "found match\n"),
    ],
)
def test_get_branch_name(courier, fake_github, capsys, tail, branch, printed):
    fake_github.add_repo("acme/reports", {"main": {}, "feature": {}, "feature/x": {}, "dev": {}})
    url = BASE + "/tree/" + tail
    assert RepoCourier.get_branch_name(courier.get_git_repo(url), url) == branch
    assert capsys.readouterr().out == printed


def test_branch_search_reads_every_page(courier, fake_github):
    branches = {"b%03d" % i: {} for i in range(150)}
    branches["release/2.0"] = {}
    fake_github.add_repo("acme/reports", branches)
    url = BASE + "/tree/release/2.0/docs"
    assert courier.get_branch_name(repo=courier.get_git_repo(url), git_url=url) == "release/2.0"


def test_branch_not_found(courier, fake_github):
    fake_github.add_repo("acme/reports", {"main": {}})
    url = BASE + "/tree/dev/docs"
    with pytest.raises(KeyError) as raised:
        RepoCourier.get_branch_name(courier.get_git_repo(url), url)
    assert raised.value.args == ("Could not find branch name specified by url in remote repo acme/reports.",)


def test_get_all_file_paths_breadth_first(courier, fake_github):
    files = {
        "reports/a.docx": b"",
        "reports/2021/q1/x.md": b"",
        "reports/2021/b.docx": b"",
        "reports/z.md": b"",
        "other/c.md": b"",
    }
    repo = fake_github.add_repo("acme/reports", {"main": files, "dev": {"reports/d.md": b""}})
    client_repo = courier.get_git_repo(BASE)
    assert RepoCourier.get_all_file_paths(client_repo, "reports", "main") == [
        "reports/a.docx",
        "reports/z.md",
        "reports/2021/b.docx",
        "reports/2021/q1/x.md",
    ]
    assert sorted(RepoCourier.get_all_file_paths(client_repo, "", "main")) == sorted(files)
    assert RepoCourier.get_all_file_paths(client_repo, "reports", "dev") == ["reports/d.md"]
    assert repo.branches["main"] == files


def test_push_updates_an_existing_file_with_its_sha(courier, fake_github, report, root_log):
    repo = fake_github.add_repo("acme/reports", {"main": {"reports/report.docx": b"old"}})
    url = BASE + "/tree/main/reports"
    assert courier.push_file(str(report), url) == url + "/report.docx"
    assert fake_github.commits == [
        {
            "repo": "acme/reports",
            "branch": "main",
            "path": "reports/report.docx",
            "message": "Updating reports/report.docx",
            "sha": blob_sha(b"old"),
            "content": b"new report",
        }
    ]
    assert repo.branches["main"]["reports/report.docx"] == b"new report"
    assert not report.exists()
    assert ("INFO", "Upload to Github Successful!!!") in root_log.messages()


@pytest.mark.parametrize(
    "tail, branch, target, returned",
    [
        ("main/reports/2021", "main", "reports/2021/report.docx", "/report.docx"),
        ("main/reports/2021/", "main", "reports/2021/report.docx", "report.docx"),
        ("main/reports/2021/final.docx", "main", "reports/2021/report.docx", ""),
        ("main/final.md", "main", "report.docx", ""),
        ("main/", "main", "report.docx", "report.docx"),
        ("main", "main", "report.docx", "/report.docx"),
        ("feature/x/reports", "feature/x", "reports/report.docx", "/report.docx"),
    ],
)
def test_push_creates_a_new_file(courier, fake_github, report, tail, branch, target, returned):
    repo = fake_github.add_repo(
        "acme/reports",
        {
            "main": {"README.md": b"", "reports/2021/old.docx": b""},
            "feature/x": {"reports/a.md": b""},
        },
    )
    url = BASE + "/tree/" + tail
    courier.push(str(report), remote_output_path=url)
    assert [(c["branch"], c["path"], c["message"], c["sha"]) for c in fake_github.commits] == [
        (branch, target, "Adding " + target, None)
    ]
    assert repo.branches[branch][target] == b"new report"
    assert not report.exists()
    report.write_bytes(b"second")
    assert courier.push_file(file_path=report, git_url=url) == url + returned
    assert fake_github.commits[-1]["message"] == "Updating " + target


# Failures --------------------------------------------------------------------------------


def test_missing_repository(courier, fake_github, report, root_log):
    fake_github.add_repo("acme/private", private=True)
    courier.github = fake_github.client(None)
    for name in ("missing", "private"):
        url = "https://github.com/acme/%s/tree/main/docs" % name
        with pytest.raises(ValueError) as raised:
            courier.check_storage_access(url)
        assert str(raised.value) == (
            "The git repo specified with the " + url + " does not exist or inaccessible. \\\n"
            + " " * 20 + "\n Also please check whether your internet connection is stable."
        )
        assert root_log.messages()[-1] == ("ERROR", NOT_FOUND.format(name))
        with pytest.raises(AttributeError):
            courier.push(str(report), url)
        assert report.read_bytes() == b"new report"


def test_wrong_token_propagates_without_showing_it(courier, fake_github, report, root_log):
    fake_github.add_repo("acme/reports")
    wrong = "ghp_wrong_token_5678"
    courier.github = fake_github.client(wrong)
    url = BASE + "/tree/main/docs"
    texts = []
    for call in (lambda: courier.check_storage_access(url), lambda: courier.push(str(report), url)):
        with pytest.raises(github.BadCredentialsException) as raised:
            call()
        texts.append(str(raised.value))
    assert report.exists()
    for secret in (wrong, fake_github.token):
        assert all(secret not in text for text in texts + [root_log.text()])


@pytest.mark.parametrize(
    "url, error",
    [
        (BASE + "/tree/dev/docs", KeyError),
        (BASE + "/blob/main/docs", ValueError),
        (BASE, ValueError),
    ],
)
def test_url_errors_before_the_upload_keep_the_report(courier, fake_github, report, url, error):
    fake_github.add_repo("acme/reports", {"main": {"docs/a.md": b""}})
    with pytest.raises(error):
        courier.push(str(report), url)
    assert report.exists() and fake_github.commits == []


@pytest.mark.parametrize(
    "tail, logged",
    [
        ("main/missing/dir", "404"),
        ("locked/docs", "Protected branch update failed"),
    ],
)
def test_failed_upload_keeps_the_report_and_push_raises(courier, fake_github, report, root_log, tail, logged):
    fake_github.add_repo("acme/reports", {"main": {"docs/a.md": b""}, "locked": {"docs/b.md": b""}}, protected=["locked"])
    url = BASE + "/tree/" + tail
    assert courier.push_file(str(report), url) is None
    level, message = root_log.messages()[-1]
    assert level == "ERROR" and logged in message
    assert report.read_bytes() == b"new report"
    with pytest.raises(RuntimeError) as raised:
        courier.push(str(report), url)
    assert str(raised.value) == (
        "Pushing %s to %s failed (the error is logged above); the local file %s is kept."
        % (report, url, report)
    )
    assert report.exists() and fake_github.commits == []


def test_missing_local_file_is_logged(courier, fake_github, tmp_path, root_log):
    fake_github.add_repo("acme/reports", {"main": {"docs/a.md": b""}})
    missing = tmp_path / "gone.docx"
    assert courier.push_file(str(missing), BASE + "/tree/main/docs") is None
    level, message = root_log.messages()[-1]
    assert level == "ERROR" and "No such file or directory" in message
    assert fake_github.commits == []


def test_interrupted_upload_propagates_and_keeps_the_report(courier, fake_github, report):
    fake_github.add_repo("acme/reports", {"main": {"docs/a.md": b""}})

    def interrupted(repo, dir_name, branch_name):
        raise KeyboardInterrupt

    courier.get_all_file_paths = interrupted
    with pytest.raises(KeyboardInterrupt):
        courier.push(str(report), BASE + "/tree/main/docs")
    assert report.exists() and fake_github.commits == []


# The native branch search against the rule written out in Python ---------------------------


def branch_search_as_written(text, names):
    """(branch, printed): prefixes ending before a "/", longest first, then suffixes."""
    candidate = text
    while True:
        had_slash = "/" in candidate
        if candidate in names:
            return candidate, ""
        candidate = candidate.rsplit("/", 1)[0]
        if not had_slash:
            break
    candidate = text
    while candidate not in names:
        pieces = candidate.split("/", 1)
        if len(pieces) == 1:
            return None, ""
        candidate = pieces[1]
    return candidate, "found match\n"


class ListedRepo:
    """What the branch search reads of a repository: its branch names and full name."""

    full_name = "acme/reports"

    def __init__(self, names):
        self.names = names

    def get_branches(self):
        return [type("Branch", (), {"name": name})() for name in self.names]


pieces = st.text(alphabet="ab/\u00e9\U0001f600\ud800", max_size=8)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(text=pieces, names=st.lists(pieces, max_size=6))
def test_branch_search_matches_the_rule(capsys, text, names):
    url = BASE + "/tree/" + text
    expected, printed = branch_search_as_written(text, names)
    capsys.readouterr()
    if expected is None:
        with pytest.raises(KeyError):
            RepoCourier.get_branch_name(ListedRepo(names), url)
    else:
        assert RepoCourier.get_branch_name(ListedRepo(names), url) == expected
        # A branch found among the suffixes ends the URL: the top of the branch.
        directory = "" if printed else text[len(expected) + 1 :].rstrip("/")
        assert RepoCourier.get_directory_name(url, expected) == directory
    assert capsys.readouterr().out == printed
