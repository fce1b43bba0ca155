// Publishing a report file into a directory of a GitHub repository branch
// through PyGithub: the location checker, the access token and RepoCourier.
#include "areas.hpp"

#include "storage_url.hpp"
#include "vb/courier.hpp"
#include "vb/pyfunction.hpp"
#include "vb/pytext.hpp"

#include <string>
#include <vector>

namespace vb::repo_courier {
namespace {

const char *const kModule = "velmo_brevant.utils.repo_courier";
const char *const kUrlForm =
    "https://github.com/<organization or username>/<repo name>/tree/<branch name>/"
    "<directory name>";

py::object os_path(const char *name) { return import_attr("os.path", name); }

// get_git_personal_access_token() -------------------------------------------

py::object get_git_personal_access_token() {
    py::object parser = courier::read_home_credentials(".git_brevant/credentials");
    py::object token = parser.is_none()
                           ? courier::environment_variable("GITHUB_PAT")
                           : parser.attr("get")("default", "git_personal_access_token");
    if (token.is_none()) {
        courier::log_missing_key("GITHUB_PAT is missing in your environment.");
        return py::none();
    }
    return token;
}

// git_url_checker(output_path) ------------------------------------------------

py::tuple git_url_checker(const py::object &output_path) {
    require_str_or_none(output_path, "git_url_checker", "output_path");
    if (output_path.is_none()) return courier::no_output_path();
    py::object match = import_attr(kModule, "GIT_URL_PATTERN").attr("match")(output_path);
    if (!match.is_none()) {
        default_logger().attr("info")(
            std::string("Given output_path is a git URL matches pattern") + std::string(17, ' ') +
            "'" + kUrlForm + "'");
        return py::make_tuple(true, output_path);
    }
    default_logger().attr("info")("Given output_path not a GIT URL. ");
    return py::make_tuple(false, output_path);
}

// URL cutting -------------------------------------------------------------------

[[noreturn]] void raise_bad_url(const py::str &git_url, const char *missing) {
    raise(PyExc_ValueError,
          py::str("The git URL {} names no {}: expected {}.").format(git_url, missing, kUrlForm));
}

py::str get_repo_name(const py::str &git_url) {
    std::optional<std::u32string> name = core::repo_full_name(to_u32(git_url));
    if (!name) raise_bad_url(git_url, "repository");
    return from_u32(*name);
}

py::str get_branch_name(const py::object &repo, const py::str &git_url) {
    std::vector<std::u32string> branches;
    for (py::handle branch : repo.attr("get_branches")())
        branches.push_back(to_u32(branch.attr("name")));
    std::optional<std::u32string> text = core::branch_text(to_u32(git_url));
    if (!text) raise_bad_url(git_url, "branch");
    std::optional<core::BranchMatch> match = core::find_branch(*text, branches);
    if (!match)
        raise(PyExc_KeyError,
              py::str("Could not find branch name specified by url in remote repo {}.")
                  .format(repo.attr("full_name")));
    if (match->from_left) import_attr("builtins", "print")("found match");
    return from_u32(match->name);
}

py::str get_directory_name(const py::str &git_url, const py::str &branch_name) {
    const std::u32string url = to_u32(git_url);
    std::optional<std::u32string> directory = core::branch_directory(url, to_u32(branch_name));
    if (directory) return from_u32(*directory);
    if (!core::branch_text(url)) raise_bad_url(git_url, "branch");
    raise(PyExc_ValueError, py::str("The branch {} does not follow /tree/ in the git URL {}.")
                                .format(branch_name, git_url));
}

// A directory listing, or the one entry that a path of a file gives.
py::list content_entries(const py::object &contents) {
    if (py::isinstance<py::list>(contents)) return contents;
    py::list entries;
    entries.append(contents);
    return entries;
}

py::list get_all_file_paths(const py::object &repo, const py::object &dir_name,
                            const py::object &branch_name) {
    py::object get_contents = repo.attr("get_contents");
    py::list work = content_entries(get_contents("path"_a = dir_name, "ref"_a = branch_name));
    py::list paths;
    // Breadth first: entries of a subdirectory join the end of the work list.
    for (size_t at = 0; at < py::len(work); ++at) {
        py::object entry = work[at];
        py::object path = entry.attr("path");
        if (py::str(entry.attr("type")).equal(py::str("dir"))) {
            for (py::handle child : content_entries(get_contents(path, "ref"_a = branch_name)))
                work.append(child);
        } else {
            paths.append(path);
        }
    }
    return paths;
}

// RepoCourier ---------------------------------------------------------------------

void dynamic_imports(const py::object &self) {
    auto load = [&self]() {
        py::object import_module = import_attr("importlib", "import_module");
        self.attr("_RepoCourier__Github") =
            import_module("github", "package"_a = "PyGithub").attr("Github");
        self.attr("_RepoCourier__UnknownObjectException") =
            import_module("github.GithubException", "package"_a = "PyGithub")
                .attr("UnknownObjectException");
    };
    try {
        load();
        return;
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ModuleNotFoundError)) throw;
    }
    py::list arguments;
    arguments.append("install");
    arguments.append("PyGithub==1.55");
    import_attr("pip", "main")(arguments);
    // The import system caches directory listings; the new package must be seen.
    import_attr("importlib", "invalidate_caches")();
    load();
}

void init(const py::object &self, const py::object &personal_access_token) {
    self.attr("_personal_access_token") = personal_access_token;
    self.attr("_RepoCourier__dynamic_imports")();
    self.attr("github") =
        self.attr("_RepoCourier__Github")(self.attr("_personal_access_token"), "timeout"_a = 60);
}

py::object get_git_repo(const py::object &self, const py::object &git_url) {
    py::object full_name = self.attr("get_repo_name")(git_url);
    try {
        return self.attr("github").attr("get_repo")(full_name);
    } catch (py::error_already_set &error) {
        if (!error.matches(self.attr("_RepoCourier__UnknownObjectException"))) throw;
        default_logger().attr("error")(
            py::str("Repository {} does not exists \\\n{}or not accessible using given personal "
                    "access token.")
                .format(full_name, std::string(16, ' ')));
        return py::bool_(false);
    }
}

py::bytes read_bytes(const py::object &path) {
    py::object file = import_attr("builtins", "open")(path, "rb");
    py::object content;
    try {
        content = file.attr("read")();
    } catch (py::error_already_set &) {
        file.attr("close")();
        throw;
    }
    file.attr("close")();
    return content;
}

py::object push_file(const py::object &self, const py::object &file_path,
                     const py::object &git_url) {
    py::object file_name = os_path("basename")(file_path);
    py::object repo = self.attr("get_git_repo")(git_url);
    py::object branch = self.attr("get_branch_name")(repo, git_url);
    py::object directory = self.attr("get_directory_name")(git_url, branch);
    // Failures from here on are logged and answered with None; the local file
    // stays, so nothing is lost.
    try {
        py::bytes content = read_bytes(file_path);
        py::object target = os_path("join")(directory, file_name);
        py::object paths = self.attr("get_all_file_paths")(repo, directory, branch);
        if (paths.contains(target)) {
            py::object existing = repo.attr("get_contents")("path"_a = target, "ref"_a = branch);
            repo.attr("update_file")("path"_a = target, "message"_a = py::str("Updating ") + target,
                                     "content"_a = content, "sha"_a = existing.attr("sha"),
                                     "branch"_a = branch);
        } else {
            repo.attr("create_file")("path"_a = target, "message"_a = py::str("Adding ") + target,
                                     "content"_a = content, "branch"_a = branch);
        }
        default_logger().attr("info")("Upload to Github Successful!!!");
        courier::remove_if_file(file_path);
        if (core::names_report_file(to_u32(git_url))) return git_url;
        return os_path("join")(git_url, file_name);
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        default_logger().attr("error")(py::str(error.value()));
        return py::none();
    }
}

void check_storage_access(const py::object &self, const py::object &storage_output_path) {
    if (!py::bool_(self.attr("get_git_repo")(storage_output_path)))
        courier::raise_inaccessible("git repo", storage_output_path);
}

void push(const py::object &self, const py::object &report_path,
          const py::object &remote_output_path) {
    if (self.attr("push_file")(report_path, remote_output_path).is_none())
        courier::raise_push_failed(report_path, remote_output_path);
}

}  // namespace

void register_courier(py::module_ &m) {
    m.attr("GIT_URL_PATTERN") =
        import_attr("re", "compile")(R"(http(s)?:\/{2}github.com\/[a-z|A-Z|0-9|\-|\_|\/]*)");

    m.def("get_git_personal_access_token", &get_git_personal_access_token,
          "get_git_personal_access_token()\n--\n\n"
          "The GitHub personal access token: the key git_personal_access_token of the section "
          "[default] of ~/.git_brevant/credentials when that file exists, else the environment "
          "variable GITHUB_PAT.\n\nNone, with the missing key logged at error level, when neither "
          "holds one.");
    py::dict annotations;
    annotations["output_path"] = import_attr("builtins", "str");
    annotations["return"] = import_attr("builtins", "tuple");
    annotated_function(
        m, "git_url_checker",
        py::cpp_function(
            &git_url_checker, py::name("git_url_checker"), py::arg("output_path"),
            "git_url_checker(output_path)\n--\n\n"
            "(True, output_path) when output_path begins with http(s)://github.com/, else "
            "(False, output_path); (None, None), with a warning, for None.\n\nThe accepted form "
            "is https://github.com/<organization or username>/<repo name>/tree/<branch name>/"
            "<directory name or a path ending in a .docx or .md file>.\n\nTypeError unless "
            "output_path is str or None."),
        annotations);

    vb::PyClass(m, "RepoCourier",
                "Publishes report files into a directory of a branch of a GitHub repository.\n\n"
                "The client (attribute github) is PyGithub's Github made from the personal access "
                "token; PyGithub is installed at run time when it is missing.")
        .init(&init, py::arg("personal_access_token"),
              "__init__(self, personal_access_token)\n--\n\n"
              "Import PyGithub and create the client from the token (a str, or None for "
              "anonymous access) with a 60 second timeout.")
        .method("_RepoCourier__dynamic_imports", &dynamic_imports,
                "__dynamic_imports(self)\n--\n\n"
                "Store PyGithub's Github and UnknownObjectException classes, installing "
                "PyGithub==1.55 with pip when it is missing.")
        .method("push_file", &push_file, py::arg("file_path"), py::arg("git_url"),
                "push_file(self, file_path, git_url)\n--\n\n"
                "Create or update the file named like file_path in the branch directory that "
                "git_url names, with the commit message 'Adding <path>' or 'Updating <path>', "
                "then delete the local file.\n\nReturns the pushed file's URL, or None when the "
                "upload failed (the error is logged and the local file kept). Errors in finding "
                "the repository, branch or directory propagate.")
        .method("get_git_repo", &get_git_repo, py::arg("git_url"),
                "get_git_repo(self, git_url)\n--\n\n"
                "The repository that git_url names, or False (with an error logged) when it "
                "does not exist or the token cannot see it.")
        .static_method("get_all_file_paths", &get_all_file_paths, py::arg("repo"),
                       py::arg("dir_name"), py::arg("branch_name"),
                       "get_all_file_paths(repo, dir_name, branch_name)\n--\n\n"
                       "Paths from the repository root of every file below dir_name on the "
                       "branch, at any depth, breadth first.")
        .static_method("get_directory_name", &get_directory_name, py::arg("git_url"),
                       py::arg("branch_name"),
                       "get_directory_name(git_url, branch_name)\n--\n\n"
                       "The directory inside the branch: the text after /tree/<branch_name>/, "
                       "without a final .docx or .md file name and without trailing '/'; '' for "
                       "the top of the branch.\n\nValueError when git_url has no /tree/ or the "
                       "branch does not follow it.")
        .static_method("get_repo_name", &get_repo_name, py::arg("git_url"),
                       "get_repo_name(git_url)\n--\n\n"
                       "'<organization or username>/<repo name>' of git_url (ValueError when "
                       "it has no such part).")
        .static_method("get_branch_name", &get_branch_name, py::arg("repo"), py::arg("git_url"),
                       "get_branch_name(repo, git_url)\n--\n\n"
                       "The branch of repo that the text after /tree/ in git_url names: its "
                       "longest prefix that is a branch, else its longest suffix that is "
                       "one.\n\nKeyError when no branch matches; ValueError when git_url has no "
                       "/tree/.")
        .method("check_storage_access", &check_storage_access, py::arg("storage_output_path"),
                "check_storage_access(self, storage_output_path)\n--\n\n"
                "ValueError unless the repository of storage_output_path can be reached.")
        .method("push", &push, py::arg("report_path"), py::arg("remote_output_path"),
                "push(self, report_path, remote_output_path)\n--\n\n"
                "Upload report_path with push_file and delete it.\n\nRuntimeError naming the "
                "destination when the upload failed; the local file is then kept.");
}

}  // namespace vb::repo_courier
