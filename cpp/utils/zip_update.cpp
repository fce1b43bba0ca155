// Replacing members of an existing zip archive: a complete new archive is
// written beside the old one and swapped in by renames.
#include "areas.hpp"

#include "vb/context.hpp"
#include "zip_format.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace vb::utils {
namespace {

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

// Member data passes through one buffer of this size, so memory stays flat
// however large the members are.
constexpr std::size_t kCopyChunk = 1 << 20;

// Flags under which a stored member's bytes are not its plain data: encrypted,
// compressed patched data, strong encryption.
constexpr long kNotPlainData = 0x01 | 0x20 | 0x40;

struct Copied {
    long long size = 0;
    std::uint32_t crc = 0;
};

// Moves data through one buffer: `read(data, want)` fills at most want bytes
// and returns how many (0 at the end), `write(data, count)` takes them all.
// At most `limit` bytes pass (all when negative); a pending signal such as
// Ctrl-C is raised between chunks.
template <typename Read, typename Write>
Copied copy_chunks(long long limit, Read &&read, Write &&write) {
    std::vector<unsigned char> buffer(kCopyChunk);
    Copied copied;
    while (limit < 0 || copied.size < limit) {
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        std::size_t want = buffer.size();
        if (limit >= 0 && static_cast<unsigned long long>(limit - copied.size) < want)
            want = static_cast<std::size_t>(limit - copied.size);
        const std::size_t got = read(buffer.data(), want);
        if (got == 0) break;
        copied.crc = core::crc32(copied.crc, buffer.data(), got);
        write(buffer.data(), got);
        copied.size += static_cast<long long>(got);
    }
    return copied;
}

[[noreturn]] void raise_os_error(int error) {
    errno = error;
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
}

// Runs a read or write system call without the GIL, again when a signal
// interrupted it; a failure raises OSError from its errno.
template <typename Call> std::size_t system_call(Call &&call) {
    while (true) {
        ssize_t result;
        int error;
        {
            py::gil_scoped_release release;
            result = call();
            error = errno;
        }
        if (result >= 0) return static_cast<std::size_t>(result);
        if (error != EINTR) raise_os_error(error);
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

int file_descriptor(const py::object &file) { return file.attr("fileno")().cast<int>(); }

py::memoryview bytes_view(unsigned char *data, std::size_t count) {
    return py::memoryview::from_memory(data, static_cast<py::ssize_t>(count), false);
}

// zipfile's member writer keeps the size and CRC of what it was given in these
// counters and finishes the member from them (header rewrite, directory entry).
// Only that writer itself, with its counters present, is given them.
bool takes_counts(const py::object &writer) {
    py::object type = py::type::of(writer);
    if (!py::str(type.attr("__module__")).equal(py::str("zipfile")) ||
        !py::str(type.attr("__qualname__")).equal(py::str("_ZipWriteFile")))
        return false;
    for (const char *name : {"_file_size", "_compress_size", "_crc", "_compressor"})
        if (!py::hasattr(writer, name)) return false;
    return writer.attr("_compressor").is_none() &&
           py::isinstance<py::int_>(writer.attr("_crc"));
}

// Writes the member `record`, stored, with the data read from the binary file
// source (limit bytes at most, all when negative). The data goes by system
// calls from the source's descriptor straight into the archive file, with the
// CRC computed natively, and the writer is given the counts; a writer without
// those counters is fed the data as usual.
Copied write_stored(const py::object &new_archive, const py::object &record,
                    const py::object &source, long long limit) {
    Copied copied;
    with_context(new_archive.attr("open")(record, "w"), [&](const py::object &writer) {
        if (!takes_counts(writer)) {
            py::object readinto = source.attr("readinto");
            py::object write = writer.attr("write");
            copied = copy_chunks(
                limit,
                [&](unsigned char *data, std::size_t want) {
                    return readinto(bytes_view(data, want)).cast<std::size_t>();
                },
                // A bytes copy: the writer may keep what it is given.
                [&](unsigned char *data, std::size_t count) {
                    write(py::bytes(reinterpret_cast<const char *>(data), count));
                });
            return;
        }
        py::object archive_file = new_archive.attr("fp");
        archive_file.attr("flush")();
        const long long start = archive_file.attr("tell")().cast<long long>();
        const int from = file_descriptor(source);
        const int to = file_descriptor(archive_file);
        long long offset = start;
        copied = copy_chunks(
            limit,
            [&](unsigned char *data, std::size_t want) {
                return system_call([&] { return ::read(from, data, want); });
            },
            [&](unsigned char *data, std::size_t count) {
                while (count > 0) {
                    const std::size_t put =
                        system_call([&] { return ::pwrite(to, data, count, offset); });
                    data += put;
                    count -= put;
                    offset += static_cast<long long>(put);
                }
            });
        archive_file.attr("seek")(start + copied.size);
        writer.attr("_file_size") = copied.size;
        writer.attr("_compress_size") = copied.size;
        writer.attr("_crc") = copied.crc;
    });
    return copied;
}

py::object bad_zip_file() { return import_attr("zipfile", "BadZipFile"); }

// A large stored member's bytes copied from the old archive file (raw, a
// handle of its own) under a copy of its own record, checked against its size
// and CRC as reading it through zipfile would.
void copy_stored_member(const py::object &raw_old, const py::object &new_archive,
                        const py::handle &info) {
    raw_old.attr("seek")(info.attr("header_offset"));
    py::bytes header = raw_old.attr("read")(core::kLocalHeaderSize);
    std::string fixed = header;
    if (fixed.size() != core::kLocalHeaderSize)
        raise(bad_zip_file().ptr(), "Truncated file header");
    unsigned char bytes[core::kLocalHeaderSize];
    std::copy(fixed.begin(), fixed.end(), bytes);
    const core::LocalHeader local = core::read_local_header(bytes);
    if (!local.valid) raise(bad_zip_file().ptr(), "Bad magic number for file header");
    raw_old.attr("seek")(local.variable_size, 1);

    py::object record = import_attr("copy", "copy")(info);
    const long long size = info.attr("compress_size").cast<long long>();
    const Copied copied = write_stored(new_archive, record, raw_old, size);
    auto naming = [&](const char *pattern) {
        return py::str(pattern).attr("__mod__")(info.attr("filename")).cast<std::string>();
    };
    if (copied.size != size) raise(PyExc_EOFError, naming("Truncated data of member %r"));
    if (py::int_(copied.crc).not_equal(info.attr("CRC")))
        raise(bad_zip_file().ptr(), naming("Bad CRC-32 for file %r"));
}

// Any other large member (compressed, encrypted) is streamed through zipfile:
// read and decompressed from the old archive, written and compressed into the
// new one, with a copy of its own record.
void copy_member_through_zipfile(const py::object &old_archive, const py::object &new_archive,
                                 const py::handle &info) {
    py::object record = import_attr("copy", "copy")(info);
    py::object copy_file = import_attr("shutil", "copyfileobj");
    with_context(old_archive.attr("open")(info), [&](const py::object &source) {
        with_context(new_archive.attr("open")(record, "w"), [&](const py::object &target) {
            copy_file(source, target, kCopyChunk);
        });
    });
}

bool is_plain_stored(const py::handle &info) {
    py::object compress_type = info.attr("compress_type");
    return compress_type.equal(import_attr("zipfile", "ZIP_STORED")) &&
           (info.attr("flag_bits").cast<long>() & kNotPlainData) == 0;
}

bool fits_one_chunk(const py::handle &record) {
    for (const char *size : {"file_size", "compress_size"})
        if (record.attr(size).cast<unsigned long long>() > kCopyChunk) return false;
    return true;
}

// Every member keeps its own record and its own data (also among members of
// the same name). One that fits in a chunk is read whole and written back, as
// zipfile does it; a larger one is streamed.
void copy_member(const py::object &raw_old, const py::object &old_archive,
                 const py::object &new_archive, const py::handle &info) {
    if (fits_one_chunk(info)) {
        new_archive.attr("writestr")(info, old_archive.attr("read")(info));
    } else if (is_plain_stored(info)) {
        copy_stored_member(raw_old, new_archive, info);
    } else {
        copy_member_through_zipfile(old_archive, new_archive, info);
    }
}

// Added as ZipFile.write adds it (its record from the file, stored); the data
// of a file larger than a chunk is copied natively.
void add_file(const py::object &new_archive, const py::handle &path) {
    py::object arcname = import_attr("os.path", "basename")(path);
    py::object stored = import_attr("zipfile", "ZIP_STORED");
    py::object record = import_attr("zipfile", "ZipInfo").attr("from_file")(path, arcname);
    py::object compression = new_archive.attr("compression");
    if (fits_one_chunk(record) || py::bool_(record.attr("is_dir")()) ||
        compression.not_equal(stored)) {
        new_archive.attr("write")(path, arcname);
        return;
    }
    record.attr("compress_type") = stored;
    with_context(import_attr("builtins", "open")(path, "rb", 0), [&](const py::object &source) {
        write_stored(new_archive, record, source, -1);
    });
}

void write_new_archive(const py::object &zip_path, const py::object &temp_path,
                       const py::list &changed_files, const py::list &changed_filenames) {
    py::object zip_file = import_attr("zipfile", "ZipFile");
    py::object open = import_attr("builtins", "open");
    with_context(zip_file(zip_path, "r"), [&](const py::object &old_archive) {
        // The temporary file is empty: opened without truncation, a file
        // system such as ext4 does not flush it on close, as it does for a
        // file truncated and written again.
        with_context(open(temp_path, "r+b"), [&](const py::object &temp_file) {
            with_context(zip_file(temp_file, "w"), [&](const py::object &new_archive) {
                new_archive.attr("comment") = old_archive.attr("comment");
                with_context(open(zip_path, "rb", 0), [&](const py::object &raw_old) {
                    for (const auto &info : old_archive.attr("infolist")()) {
                        if (!changed_filenames.contains(info.attr("filename")))
                            copy_member(raw_old, old_archive, new_archive, info);
                    }
                });
                for (const auto &path : changed_files) add_file(new_archive, path);
            });
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
