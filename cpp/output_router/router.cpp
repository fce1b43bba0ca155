// OutputRouter: classifies an output location as a GitHub branch directory, an
// S3 location or a local path, names the local report file, and hands the
// saved report to the destination's courier.
#include "areas.hpp"

#include "storage_url.hpp"
#include "vb/pytext.hpp"

#include <string>
#include <utility>

namespace vb::output_router {
namespace {

const char *const kModule = "velmo_brevant.utils.output_router";
const char *const kRepoCourier = "velmo_brevant.utils.repo_courier";
const char *const kBucketCourier = "velmo_brevant.utils.bucket_courier";

py::object storage_type(const char *member) {
    return import_attr(kModule, "StorageType").attr(member);
}

py::object os_path(const char *name) { return import_attr("os.path", name); }

void init(const py::object &self, const py::object &url, const py::object &main_template_type) {
    self.attr("url") = url;
    self.attr("_storage_type") = py::none();
    self.attr("storage") = py::none();
    self.attr("storage_output_path") = py::none();
    self.attr("main_template_type") = main_template_type;
    self.attr("detect_storage")();
}

void detect_storage(const py::object &self) {
    py::object url = self.attr("url");
    auto [is_git, git_path] = unpack_pair(import_attr(kRepoCourier, "git_url_checker")(url));
    auto [is_s3, s3_path] = unpack_pair(import_attr(kBucketCourier, "s3_url_checker")(url));
    if (!py::bool_(url)) raise(PyExc_ValueError, "Given output_path/URL is not specified.");
    if (py::bool_(is_git)) {
        py::object token = import_attr(kRepoCourier, "get_git_personal_access_token")();
        self.attr("storage") = import_attr(kRepoCourier, "RepoCourier")(token);
        self.attr("storage_output_path") = git_path;
        self.attr("_storage_type") = storage_type("GIT");
    } else if (py::bool_(is_s3)) {
        // Without a key pair boto3 looks for credentials itself (profiles,
        // instance roles); an unreachable bucket then shows at the access check.
        py::object keys = import_attr(kBucketCourier, "get_aws_credentials_from_env")();
        auto [access_key, secret_key] =
            keys.is_none() ? std::make_pair(py::object(py::none()), py::object(py::none()))
                           : unpack_pair(keys);
        self.attr("storage") = import_attr(kBucketCourier, "BucketCourier")(access_key, secret_key);
        self.attr("storage_output_path") = s3_path;
        self.attr("_storage_type") = storage_type("S3");
    } else {
        py::object directory = os_path("dirname")(url);
        if (!py::bool_(os_path("exists")(directory)) && py::bool_(directory)) {
            const std::string indent(20, ' ');
            raise(PyExc_ValueError,
                  "\n" + indent + "Given output_path/URL is not valid or supported.\n\n" + indent +
                      "If given output_path points to a local storage, ensure "
                      "the directory is valid and accessible.\n" +
                      indent);
        }
        self.attr("storage_output_path") = url;
        self.attr("_storage_type") = storage_type("LOCAL");
    }
}

py::str get_temp_file_name(const py::object &self, const py::str &url,
                           const py::object &template_type) {
    py::object kind = self.attr("_storage_type").attr("value");
    py::object info = default_logger().attr("info");
    const std::u32string text = to_u32(url);
    if (core::names_report_file(text)) {
        py::str name = from_u32(core::last_component(text));
        info(py::str("Given {} URL ends with a file name, using same filename {} to render the "
                     "Brevant.")
                 .format(kind, name));
        return name;
    }
    py::object output_type = import_attr("velmo_brevant.base.enums", "OutputType");
    py::str stamp = import_attr("time", "strftime")("Experiment_Report_%Y-%m-%d-%H-%M-%S",
                                                    import_attr("time", "gmtime")());
    py::str name = stamp + py::str(template_type.equal(output_type.attr("MD")) ? ".md" : ".docx");
    info(py::str("Given {} URL ends without a filename, using filename {}").format(kind, name));
    return name;
}

py::object temp_filename(const py::object &self) {
    if (py::object(self.attr("_storage_type")).equal(storage_type("LOCAL")))
        return self.attr("storage_output_path");
    return self.attr("get_temp_file_name")(self.attr("storage_output_path"),
                                           self.attr("main_template_type"));
}

void check_access(const py::object &self) {
    self.attr("storage").attr("check_storage_access")(self.attr("storage_output_path"));
}

void push(const py::object &self, const py::object &report_path) {
    self.attr("storage").attr("push")(report_path, self.attr("storage_output_path"));
}

}  // namespace

void register_router(py::module_ &m) {
    vb::PyClass(m, "OutputRouter",
                "Classifies an output location (a GitHub branch directory URL, an S3 location or "
                "a local path), creates the courier of a remote destination, names the local "
                "report file and pushes the saved report.")
        .init(&init, py::arg("url"), py::arg("main_template_type"),
              "__init__(self, url, main_template_type)\n--\n\n"
              "Store the location and the report format, then classify the location.")
        .method("detect_storage", &detect_storage,
                "detect_storage(self)\n--\n\n"
                "Set storage, storage_output_path and _storage_type from url: a RepoCourier for a "
                "GitHub URL, a BucketCourier for an S3 location, no courier for a local path "
                "whose directory exists (or is empty).\n\nValueError for an empty location or a "
                "local path into a missing directory.")
        .method("get_temp_file_name", &get_temp_file_name, py::arg("url"),
                py::arg("template_type") = py::none(),
                "get_temp_file_name(self, url, template_type=None)\n--\n\n"
                "The bare file name to render into: the last part of url when it ends in .docx or "
                ".md, else 'Experiment_Report_<UTC time>' with .md for OutputType.MD and .docx "
                "otherwise.")
        .property("temp_filename", &temp_filename,
                  "The local file that the report is written to before it is pushed: the path "
                  "itself for a local destination, else get_temp_file_name(storage_output_path, "
                  "main_template_type) (computed on every read).")
        .method("check_access", &check_access,
                "check_access(self)\n--\n\n"
                "Check that the remote destination can be reached (its courier's "
                "check_storage_access).")
        .method("push", &push, py::arg("report_path"),
                "push(self, report_path)\n--\n\n"
                "Hand the saved report to the courier of the remote destination.");

    py::object storage =
        make_enum(m, "StorageType", {{"GIT", "git"}, {"S3", "s3"}, {"LOCAL", "local"}});
    storage.attr("__doc__") = "Kinds of output destination: GIT, S3 and LOCAL.";
}

}  // namespace vb::output_router
