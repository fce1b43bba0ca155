// Publishing a report file into an S3 bucket through boto3: the location
// checker for the three forms of an S3 location, the key pair and
// BucketCourier.
#include "areas.hpp"

#include "storage_url.hpp"
#include "vb/courier.hpp"
#include "vb/pyfunction.hpp"
#include "vb/pytext.hpp"

#include <string>

namespace vb::bucket_courier {
namespace {

const char *const kModule = "velmo_brevant.utils.bucket_courier";
const char *const kHost = "s3.amazonaws.com";

py::object os_path(const char *name) { return import_attr("os.path", name); }

// get_aws_credentials_from_env() ----------------------------------------------

py::object get_aws_credentials_from_env() {
    py::object parser = courier::read_home_credentials(".aws/credentials");
    py::object access_key, secret_key;
    if (parser.is_none()) {
        access_key = courier::environment_variable("AWS_ACCESS_KEY_ID");
        secret_key = courier::environment_variable("AWS_SECRET_ACCESS_KEY");
    } else {
        access_key = parser.attr("get")("default", "aws_access_key_id");
        secret_key = parser.attr("get")("default", "aws_secret_access_key");
    }
    if (access_key.is_none()) {
        courier::log_missing_key("AWS_ACCESS_KEY_ID is missing in your environment.");
        return py::none();
    }
    if (secret_key.is_none()) {
        courier::log_missing_key("AWS_SECRET_ACCESS_KEY is missing in your environment.");
        return py::none();
    }
    return py::make_tuple(access_key, secret_key);
}

// s3_url_checker(output_path) ---------------------------------------------------

[[noreturn]] void raise_no_bucket(const py::object &location) {
    raise(PyExc_ValueError,
          py::str("The S3 location {} names no bucket: expected s3://<bucket>/<key>.")
              .format(location));
}

py::tuple converted(const std::u32string &uri) {
    py::str text = from_u32(uri);
    default_logger().attr("info")(py::str("Converted given s3 URL to URI format ") + text);
    return py::make_tuple(true, text);
}

py::tuple s3_url_checker(const py::object &output_path) {
    require_str_or_none(output_path, "s3_url_checker", "output_path");
    if (output_path.is_none()) return courier::no_output_path();
    py::object parsed = import_attr("urllib.parse", "urlparse")(output_path);
    py::module_ module = py::module_::import(kModule);
    if (!module.attr("URL_PATTERN_ONE").attr("match")(output_path).is_none()) {
        default_logger().attr("info")(std::string("Given output_path is a s3 URL matches pattern "
                                                  "'https://<bucket>.") +
                                      kHost + "/...'.");
        return converted(core::virtual_hosted_uri(
            to_u32(parsed.attr("netloc")), to_u32(parsed.attr("path")), to_u32(py::str(kHost))));
    }
    if (!module.attr("URL_PATTERN_TWO").attr("match")(output_path).is_none()) {
        default_logger().attr("info")(
            std::string("Given output_path is a s3 URL matches pattern 'https://") + kHost +
            "/<bucket>/...' ");
        std::optional<std::u32string> uri = core::path_style_uri(to_u32(parsed.attr("path")));
        if (!uri) raise_no_bucket(output_path);
        return converted(*uri);
    }
    if (py::bool_(output_path.attr("startswith")("s3://"))) {
        default_logger().attr("info")(
            "Given output_path is a s3 URI matches pattern 's3://<bucket>/...' ");
        return py::make_tuple(true, output_path);
    }
    default_logger().attr("info")("Given output_path points to a local directory. ");
    return py::make_tuple(false, output_path);
}

// BucketCourier -----------------------------------------------------------------

core::BucketKey bucket_and_key(const py::str &uri) {
    std::optional<core::BucketKey> parts = core::split_bucket_uri(to_u32(uri));
    if (!parts) raise_no_bucket(uri);
    return *parts;
}

void init(const py::object &self, const py::object &access_key, const py::object &secret_key) {
    py::module_ boto3 = py::module_::import("boto3");
    self.attr("s3") = boto3.attr("resource")("s3", "aws_access_key_id"_a = access_key,
                                             "aws_secret_access_key"_a = secret_key);
    self.attr("s3_client") = boto3.attr("client")("s3", "aws_access_key_id"_a = access_key,
                                                  "aws_secret_access_key"_a = secret_key);
}

py::object upload_file(const py::object &self, const py::object &filename,
                       const py::str &bucket_uri, py::object object_name) {
    const core::BucketKey parts = bucket_and_key(bucket_uri);
    const py::str bucket = from_u32(parts.bucket);
    const py::str directory = from_u32(parts.key);
    // A URI that names the object itself keeps its key.
    if (object_name.equal(py::str("")) && !core::names_report_file(parts.key))
        object_name = os_path("basename")(filename);
    // Failures from here on are logged and answered with None; the local file
    // stays, so nothing is lost.
    try {
        py::object key = os_path("join")(directory, object_name).attr("rstrip")("/");
        self.attr("s3_client").attr("upload_file")(filename, bucket, key);
        default_logger().attr("info")("Upload to S3 Successful!!!");
        courier::remove_if_file(filename);
        return py::str("s3://{}/{}").format(bucket, key);
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        default_logger().attr("error")(py::str(error.value()));
        return py::none();
    }
}

py::object check_bucket_access(const py::object &self, const py::str &uri) {
    const py::str bucket = from_u32(bucket_and_key(uri).bucket);
    try {
        py::object response =
            self.attr("s3").attr("meta").attr("client").attr("head_bucket")("Bucket"_a = bucket);
        if (!py::bool_(response)) return py::none();
        default_logger().attr("info")("Bucket exists and accessible!!!");
        return py::bool_(true);
    } catch (py::error_already_set &error) {
        if (!is_exception(error)) throw;
        default_logger().attr("error")(py::str(error.value()));
        return py::bool_(false);
    }
}

void check_storage_access(const py::object &self, const py::object &storage_output_path) {
    if (!py::bool_(self.attr("check_bucket_access")(storage_output_path)))
        courier::raise_inaccessible("s3 bucket", storage_output_path);
}

void push(const py::object &self, const py::object &report_path,
          const py::object &remote_output_path) {
    if (self.attr("upload_file")(report_path, remote_output_path).is_none())
        courier::raise_push_failed(report_path, remote_output_path);
}

const char *const kCheckerDoc =
    "Checks whether a given output_path is a s3 url. If output path is anyform\n"
    "    of s3 url funtion will return (True, s3 URI) else function will return (False, path).\n"
    "\n"
    "    :param output_path: str: output path or s3 url\n"
    "    :return: tuple: (bool, str)\n"
    "    ";

}  // namespace

void register_courier(py::module_ &m) {
    py::module_::import("boto3");
    py::object compile = import_attr("re", "compile");
    const std::string host = R"(s3\.amazonaws\.com)";
    m.attr("URL_PATTERN_ONE") =
        compile(R"(http(s)?:\/{2}[a-z|A-Z|0-9|\-|\_|\.]*\.)" + host + R"(\/)");
    m.attr("URL_PATTERN_TWO") = compile(R"(http(s)?:\/{2})" + host + R"(\/)");
    m.attr("URL_PATTERN_THREE") = compile(R"(s3:\/{2}[a-z|A-Z|0-9|\-|\_|\.]*\/)");

    m.def("get_aws_credentials_from_env", &get_aws_credentials_from_env,
          "get_aws_credentials_from_env()\n--\n\n"
          "The S3 key pair (access_key, secret_key): the keys aws_access_key_id and "
          "aws_secret_access_key of the section [default] of ~/.aws/credentials when that file "
          "exists, else the environment variables AWS_ACCESS_KEY_ID and "
          "AWS_SECRET_ACCESS_KEY.\n\nNone, with the missing key logged at error level, when a "
          "part is missing.");
    py::dict annotations;
    annotations["output_path"] = import_attr("builtins", "str");
    annotations["return"] = import_attr("builtins", "tuple");
    annotated_function(
        m, "s3_url_checker",
        py::cpp_function(
            &s3_url_checker, py::name("s3_url_checker"), py::arg("output_path"),
            (std::string("s3_url_checker(output_path)\n--\n\n") + kCheckerDoc).c_str()),
        annotations);

    vb::PyClass(m, "BucketCourier",
                "Publishes report files into an S3 bucket.\n\nThe boto3 handles s3 (resource) "
                "and s3_client (client) are made from the key pair given; keys that are None "
                "leave the credentials to boto3's own lookup.")
        .init(&init, py::arg("access_key"), py::arg("secret_key"),
              "__init__(self, access_key, secret_key)\n--\n\n"
              "Create the boto3 S3 resource and client from the key pair.")
        .method("upload_file", &upload_file, py::arg("filename"), py::arg("bucket_uri"),
                py::arg("object_name") = "",
                "upload_file(self, filename, bucket_uri, object_name='')\n--\n\n"
                "Upload filename to the S3 URI bucket_uri ('s3://<bucket>/<key>') and delete "
                "the local file.\n\nA key ending in .docx or .md names the object; any other "
                "key is a directory that receives object_name, by default the base name of "
                "filename. Returns the URI of the object written, or None when the upload "
                "failed (the error is logged and the local file kept).")
        .method("check_bucket_access", &check_bucket_access, py::arg("uri"),
                "check_bucket_access(self, uri)\n--\n\n"
                "True when the bucket of uri answers, False (with the error logged) when it is "
                "missing, forbidden or unreachable, None for an empty answer.")
        .method("check_storage_access", &check_storage_access, py::arg("storage_output_path"),
                "check_storage_access(self, storage_output_path)\n--\n\n"
                "ValueError unless the bucket of storage_output_path can be reached.")
        .method("push", &push, py::arg("report_path"), py::arg("remote_output_path"),
                "push(self, report_path, remote_output_path)\n--\n\n"
                "Upload report_path with upload_file and delete it.\n\nRuntimeError naming the "
                "destination when the upload failed; the local file is then kept.");
}

}  // namespace vb::bucket_courier
