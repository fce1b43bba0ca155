// Replacing members of an existing zip archive: a complete new archive is
// written beside the old one and swapped in by renames.
#include "areas.hpp"

#include "vb/context.hpp"

namespace vb::utils {
namespace {

// Members are copied through fixed-size chunks, so memory stays flat however
// large they are.
constexpr long kCopyChunk = 1 << 20;

// The old archive's name with "_orig" before its ".zip" (every ".zip" of the
// file name), kept in the archive's own folder. A name without ".zip" gets
// "_orig" before its extension, so the backup can never be the archive itself.
py::object backup_path(const py::object &zip_path) {
    py::module_ os_path = py::module_::import("os.path");
    py::tuple parts = os_path.attr("split")(zip_path);
    py::object name = parts[1];
    if (name.contains(".zip")) {
        name = name.attr("replace")(".zip", "_orig.zip");
    } else {
        py::tuple stem_ext = os_path.attr("splitext")(name);
        name = py::str("{}_orig{}").format(stem_ext[0], stem_ext[1]);
    }
    return os_path.attr("join")(parts[0], name);
}

// The member with its own record (name, date and time, compression,
// attributes, comment) and its own data, streamed: with duplicate names each
// member keeps its own bytes.
void copy_member(const py::object &old_archive, const py::object &new_archive,
                 const py::handle &info) {
    py::object record = import_attr("copy", "copy")(info);
    py::object copy_file = import_attr("shutil", "copyfileobj");
    with_context(old_archive.attr("open")(info), [&](const py::object &source) {
        with_context(new_archive.attr("open")(record, "w"), [&](const py::object &target) {
            copy_file(source, target, kCopyChunk);
        });
    });
}

void write_new_archive(const py::object &zip_path, const py::object &temp_path,
                       const py::list &changed_files, const py::list &changed_filenames) {
    py::object zip_file = import_attr("zipfile", "ZipFile");
    py::object basename = import_attr("os.path", "basename");
    with_context(zip_file(zip_path, "r"), [&](const py::object &old_archive) {
        with_context(zip_file(temp_path, "w"), [&](const py::object &new_archive) {
            new_archive.attr("comment") = old_archive.attr("comment");
            for (const auto &info : old_archive.attr("infolist")()) {
                if (!changed_filenames.contains(info.attr("filename")))
                    copy_member(old_archive, new_archive, info);
            }
            for (const auto &path : changed_files)
                new_archive.attr("write")(path, basename(path));
        });
    });
}

void clean_up(const py::object &zip_path, const py::object &temp_path,
              const py::object &temp_orig_filename) {
    py::module_ os = py::module_::import("os");
    py::object exists = import_attr("os.path", "exists");
    if (!py::bool_(exists(zip_path)) && py::bool_(exists(temp_orig_filename)))
        os.attr("rename")(temp_orig_filename, zip_path);
    if (py::bool_(exists(temp_path))) os.attr("remove")(temp_path);
    if (py::bool_(exists(temp_orig_filename))) os.attr("remove")(temp_orig_filename);
}

void update_zip(const py::object &zip_path, const py::object &changed) {
    if (!py::bool_(changed)) return;
    py::list changed_files;
    if (PyList_CheckExact(changed.ptr())) {
        changed_files = py::reinterpret_borrow<py::list>(changed);
    } else {
        changed_files.append(changed);
    }
    py::module_ os = py::module_::import("os");
    py::object basename = import_attr("os.path", "basename");
    py::list changed_filenames;
    for (const auto &path : changed_files) changed_filenames.append(basename(path));

    py::object temp_orig_filename = backup_path(zip_path);
    py::object directory = import_attr("os.path", "dirname")(zip_path);
    if (!py::bool_(directory)) directory = os.attr("curdir");
    py::tuple temp = import_attr("tempfile", "mkstemp")("dir"_a = directory);
    py::object temp_path = temp[1];
    try {
        os.attr("close")(temp[0]);
        write_new_archive(zip_path, temp_path, changed_files, changed_filenames);
        // mkstemp makes the file private; the archive keeps its own mode.
        py::object mode = import_attr("stat", "S_IMODE")(os.attr("stat")(zip_path).attr("st_mode"));
        os.attr("chmod")(temp_path, mode);
        os.attr("rename")(zip_path, temp_orig_filename);
        os.attr("rename")(temp_path, zip_path);
        os.attr("remove")(temp_orig_filename);
    } catch (...) {
        clean_up(zip_path, temp_path, temp_orig_filename);
        throw;
    }
    clean_up(zip_path, temp_path, temp_orig_filename);
}

}  // namespace

void register_zip_update(py::module_ &m) {
    m.def("update_zip", &update_zip, py::arg("zip_path"), py::arg("changed_files"),
          "update_zip(zip_path, changed_files)\n--\n\n"
          "Replace the top-level members of the zip archive zip_path named like the files of "
          "changed_files (a list of paths, or one path) by those files, keeping every other "
          "member with its data, date, compression, attributes and comment, and the archive "
          "comment.\n\n"
          "The changed files are added last, stored, under their bare names. The new archive "
          "is written beside the old one and swapped in by renames; on any failure the "
          "archive is left as it was and no temporary or backup file remains. Does nothing "
          "when changed_files is empty.");
}

}  // namespace vb::utils
