"""A small GitHub REST server on 127.0.0.1 for PyGithub.

Repositories live in memory: each branch maps file paths to their bytes, directories are
implied by the paths. The server answers what the repository courier asks for: a repository,
its branches (paginated with Link headers like GitHub's), directory listings and files
(``contents``), and file creation and update (``PUT contents``, which checks the blob sha like
GitHub does). Every write is recorded in ``commits``.
"""

import base64
import hashlib
import inspect
import json
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

API_PREFIX = "/api/v3"


def blob_sha(content):
    return hashlib.sha1(b"blob %d\0" % len(content) + content).hexdigest()


class HttpError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class FakeRepo:
    def __init__(self, full_name, branches, private, protected):
        self.full_name = full_name
        self.branches = {name: dict(files) for name, files in branches.items()}
        self.private = private
        self.protected = set(protected)

    def files(self, ref):
        if ref not in self.branches:
            raise HttpError(404, "No commit found for the ref %s" % ref)
        return self.branches[ref]


class FakeGitHub:
    """In-memory GitHub; ``start()`` serves it on an ephemeral port of 127.0.0.1."""

    def __init__(self, token="ghp_fake_token_1234"):
        self.token = token
        self.repos = {}
        self.commits = []
        self._server = None
        self._thread = None

    # Set-up -------------------------------------------------------------------------

    def reset(self):
        self.repos.clear()
        del self.commits[:]

    def add_repo(self, full_name, branches=None, private=True, protected=()):
        """``branches``: {branch name: {path: bytes}}; by default one empty branch "main"."""
        repo = FakeRepo(full_name, branches or {"main": {}}, private, protected)
        self.repos[full_name] = repo
        return repo

    def start(self):
        handler = type("Handler", (_Handler,), {"github": self})
        self._server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    @property
    def base_url(self):
        host, port = self._server.server_address[:2]
        return "http://%s:%d%s" % (host, port, API_PREFIX)

    def client(self, token):
        """A real PyGithub client talking to this server, without retries or throttling."""
        import github

        options = {"base_url": self.base_url, "retry": None}
        accepted = inspect.signature(github.Github).parameters
        for name in ("seconds_between_requests", "seconds_between_writes"):
            if name in accepted:
                options[name] = 0
        if hasattr(github, "Auth"):  # PyGithub 2 deprecates the positional token
            return github.Github(auth=github.Auth.Token(token) if token else None, **options)
        return github.Github(token, **options)

    # REST ---------------------------------------------------------------------------

    def authorised(self, header):
        """True for the right token, False for none; HttpError 401 for a wrong one."""
        if not header:
            return False
        scheme, _, token = header.partition(" ")
        if scheme.lower() in ("token", "bearer") and token == self.token:
            return True
        raise HttpError(401, "Bad credentials")

    def repo(self, owner, name, authorised):
        repo = self.repos.get("%s/%s" % (owner, name))
        if repo is None or (repo.private and not authorised):
            raise HttpError(404, "Not Found")
        return repo

    def repo_json(self, repo):
        return {
            "full_name": repo.full_name,
            "name": repo.full_name.split("/")[1],
            "owner": {"login": repo.full_name.split("/")[0]},
            "private": repo.private,
            "default_branch": next(iter(repo.branches)),
            "url": self.base_url + "/repos/" + repo.full_name,
        }

    def content_json(self, repo, ref, path, files):
        url = "%s/repos/%s/contents/%s?ref=%s" % (
            self.base_url,
            repo.full_name,
            urllib.parse.quote(path),
            urllib.parse.quote(ref, safe=""),
        )
        entry = {"name": path.rsplit("/", 1)[-1], "path": path, "url": url}
        if path in files:
            content = files[path]
            entry.update(type="file", sha=blob_sha(content), size=len(content))
        else:
            entry.update(type="dir", sha=blob_sha(path.encode()), size=0)
        return entry

    def contents(self, repo, ref, path):
        files = repo.files(ref)
        if path in files:
            entry = self.content_json(repo, ref, path, files)
            entry.update(encoding="base64", content=base64.b64encode(files[path]).decode())
            return entry
        prefix = path + "/" if path else ""
        children = []
        for file_path in files:
            if file_path.startswith(prefix):
                child = prefix + file_path[len(prefix) :].split("/", 1)[0]
                if child not in children:
                    children.append(child)
        if not children:
            raise HttpError(404, "Not Found")
        return [self.content_json(repo, ref, child, files) for child in children]

    def put_contents(self, repo, path, body):
        branch = body.get("branch") or next(iter(repo.branches))
        files = repo.files(branch)
        if branch in repo.protected:
            raise HttpError(409, "Protected branch update failed for refs/heads/%s." % branch)
        existing = files.get(path)
        sha = body.get("sha")
        if existing is not None and sha is None:
            raise HttpError(422, 'Invalid request.\n\n"sha" wasn\'t supplied.')
        if existing is not None and sha != blob_sha(existing):
            raise HttpError(409, "%s does not match %s" % (path, sha))
        content = base64.b64decode(body["content"])
        files[path] = content
        commit_sha = hashlib.sha1(("%d" % len(self.commits)).encode()).hexdigest()
        self.commits.append(
            {
                "repo": repo.full_name,
                "branch": branch,
                "path": path,
                "message": body["message"],
                "sha": sha,
                "content": content,
            }
        )
        entry = self.content_json(repo, branch, path, files)
        commit = {"sha": commit_sha, "message": body["message"]}
        return (200 if existing is not None else 201), {"content": entry, "commit": commit}

    def branches_page(self, repo, query):
        per_page = int(query.get("per_page", ["30"])[0])
        page = int(query.get("page", ["1"])[0])
        names = list(repo.branches)
        chunk = names[(page - 1) * per_page : page * per_page]
        body = [
            {"name": name, "commit": {"sha": blob_sha(name.encode())}, "protected": name in repo.protected}
            for name in chunk
        ]
        headers = {}
        if page * per_page < len(names):
            next_url = "%s/repos/%s/branches?per_page=%d&page=%d" % (
                self.base_url,
                repo.full_name,
                per_page,
                page + 1,
            )
            headers["Link"] = '<%s>; rel="next"' % next_url
        return body, headers


class _Handler(BaseHTTPRequestHandler):
    github = None  # set on the subclass made by FakeGitHub.start

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self._answer("GET")

    def do_PUT(self):
        self._answer("PUT")

    def _answer(self, verb):
        try:
            status, body, headers = self._route(verb)
        except HttpError as error:
            status, body, headers = error.status, {"message": error.message}, {}
        payload = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(payload)))
        for name, value in headers.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(payload)

    def _route(self, verb):
        github = self.github
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if not url.path.startswith(API_PREFIX + "/repos/"):
            raise HttpError(404, "Not Found")
        parts = url.path[len(API_PREFIX + "/repos/") :].split("/", 3)
        if len(parts) < 2:
            raise HttpError(404, "Not Found")
        authorised = github.authorised(self.headers.get("Authorization"))
        repo = github.repo(parts[0], parts[1], authorised)
        rest = parts[2:]
        if verb == "GET" and not rest:
            return 200, github.repo_json(repo), {}
        if verb == "GET" and rest == ["branches"]:
            body, headers = github.branches_page(repo, query)
            return 200, body, headers
        if rest and rest[0] == "contents":
            path = urllib.parse.unquote(rest[1] if len(rest) > 1 else "").strip("/")
            if verb == "GET":
                ref = query.get("ref", [next(iter(repo.branches))])[0]
                return 200, github.contents(repo, ref, path), {}
            if not authorised:
                raise HttpError(401, "Requires authentication")
            length = int(self.headers.get("Content-Length", "0"))
            status, body = github.put_contents(repo, path, json.loads(self.rfile.read(length)))
            return status, body, {}
        raise HttpError(404, "Not Found")
