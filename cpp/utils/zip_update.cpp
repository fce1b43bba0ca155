// Replacing members of an existing zip archive: a complete new archive is
// written beside the old one and swapped in by renames.
//
// The new archive is written natively. Every kept member is copied as it is
// stored (local header, data, data descriptor), its data checked against its
// CRC where it can be read; its central directory entry is the old one with
// the new offset. The changed files are added as ZipFile.write adds them, and
// the central directory and end records follow zipfile's rules.
#include "areas.hpp"

#include "vb/context.hpp"
#include "zip_format.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace vb::utils {
namespace {

namespace zip = core::zip;

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

// Member data passes through buffers of this size, so memory stays flat
// however large the members are; it fits a core's cache, which makes the
// copy faster than larger buffers do.
constexpr std::size_t kBufferSize = 256 << 10;

const unsigned char *bytes_of(const std::string &bytes) {
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

[[noreturn]] void raise_os_error(int error) {
    errno = error;
    PyErr_SetFromErrno(PyExc_OSError);
    throw py::error_already_set();
}

// Runs a system call without the GIL, again when a signal interrupted it; a
// failure raises OSError from its errno.
template <typename Call> auto system_call(Call &&call) {
    while (true) {
        decltype(call()) result;
        int error;
        {
            py::gil_scoped_release release;
            result = call();
            error = errno;
        }
        if (result >= 0) return result;
        if (error != EINTR) raise_os_error(error);
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
}

// Reads a file descriptor from a position through a buffer; a read of half
// the buffer or more, with the buffer drained, goes straight into the
// caller's memory.
class Source {
  public:
    explicit Source(int fd) : fd_(fd), buffer_(kBufferSize) {}

    std::uint64_t position() const { return end_position_ - (end_ - begin_); }

    std::uint64_t file_size() const {
        struct stat status;
        system_call([&] { return ::fstat(fd_, &status); });
        return static_cast<std::uint64_t>(status.st_size);
    }

    void seek(std::uint64_t target) {
        const std::uint64_t buffer_start = end_position_ - end_;
        if (target >= buffer_start && target <= end_position_) {
            begin_ = static_cast<std::size_t>(target - buffer_start);
            return;
        }
        system_call([&] { return ::lseek(fd_, static_cast<off_t>(target), SEEK_SET); });
        end_position_ = target;
        begin_ = end_ = 0;
    }

    // At most `want` bytes (fewer only at the end of the file).
    std::size_t read_some(unsigned char *out, std::size_t want) {
        if (begin_ == end_) {
            if (want >= buffer_.size() / 2) return read_file(out, want);
            begin_ = 0;
            end_ = read_file(buffer_.data(), buffer_.size());
        }
        const std::size_t count = std::min(want, end_ - begin_);
        std::memcpy(out, buffer_.data() + begin_, count);
        begin_ += count;
        return count;
    }

    // `want` bytes, fewer only when the file ends first.
    std::string read(std::size_t want) {
        std::string bytes(want, '\0');
        std::size_t got = 0;
        while (got < want) {
            const std::size_t count =
                read_some(reinterpret_cast<unsigned char *>(&bytes[got]), want - got);
            if (count == 0) break;
            got += count;
        }
        bytes.resize(got);
        return bytes;
    }

  private:
    std::size_t read_file(unsigned char *out, std::size_t want) {
        const auto count =
            static_cast<std::size_t>(system_call([&] { return ::read(fd_, out, want); }));
        end_position_ += count;
        return count;
    }

    int fd_;
    std::vector<unsigned char> buffer_;
    std::size_t begin_ = 0, end_ = 0;  // the unread part of the buffer
    std::uint64_t end_position_ = 0;   // file position of the buffer's end
};

// Writes a file descriptor from its start through a buffer.
class Sink {
  public:
    explicit Sink(int fd) : fd_(fd), buffer_(kBufferSize) {}

    std::uint64_t position() const { return flushed_ + used_; }

    void put(const std::string &bytes) {
        const unsigned char *data = bytes_of(bytes);
        std::size_t left = bytes.size();
        while (left > 0) {
            if (used_ == buffer_.size()) flush();
            const std::size_t count = std::min(left, buffer_.size() - used_);
            std::memcpy(buffer_.data() + used_, data, count);
            used_ += count;
            data += count;
            left -= count;
        }
    }

    // Moves up to `limit` bytes from the source (fewer when it ends first),
    // showing each piece to see(data, count) on its way; returns the count.
    // A pending signal such as Ctrl-C is raised between pieces.
    template <typename See> std::uint64_t pump(Source &source, std::uint64_t limit, See &&see) {
        std::uint64_t moved = 0;
        while (moved < limit) {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (used_ == buffer_.size()) flush();
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(buffer_.size() - used_, limit - moved));
            const std::size_t got = source.read_some(buffer_.data() + used_, want);
            if (got == 0) break;
            see(buffer_.data() + used_, got);
            used_ += got;
            moved += got;
        }
        return moved;
    }

    // Writes `bytes` again at `offset`, over what was put there before.
    void patch(std::uint64_t offset, const std::string &bytes) {
        const unsigned char *data = bytes_of(bytes);
        std::size_t count = bytes.size();
        while (count > 0 && offset < flushed_) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(count, flushed_ - offset));
            const auto put = static_cast<std::size_t>(system_call(
                [&] { return ::pwrite(fd_, data, part, static_cast<off_t>(offset)); }));
            data += put;
            count -= put;
            offset += put;
        }
        if (count > 0) std::memcpy(buffer_.data() + (offset - flushed_), data, count);
    }

    void flush() {
        std::size_t done = 0;
        while (done < used_) {
            done += static_cast<std::size_t>(
                system_call([&] { return ::write(fd_, buffer_.data() + done, used_ - done); }));
        }
        flushed_ += used_;
        used_ = 0;
    }

  private:
    int fd_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
};

py::object bad_zip_file() { return import_attr("zipfile", "BadZipFile"); }

py::bytes as_bytes(const std::string &bytes) { return py::bytes(bytes.data(), bytes.size()); }

constexpr std::uint16_t kUtf8Name = 0x800;

py::object steal(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

// A member name as zipfile reads it: UTF-8 when flagged so, else code page 437
// (both agree on ASCII, the common case, which skips the codec lookup).
py::str decoded_name(const std::string &raw, std::uint16_t flags) {
    const auto size = static_cast<py::ssize_t>(raw.size());
    const bool ascii = std::all_of(raw.begin(), raw.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return steal(PyUnicode_DecodeASCII(raw.data(), size, "strict"));
    const char *encoding = (flags & kUtf8Name) ? "utf-8" : "cp437";
    return steal(PyUnicode_Decode(raw.data(), size, encoding, "strict"));
}

// The name that the archive's members are known by (ZipInfo.filename): the
// decoded name up to a NUL character.
py::str member_name(const zip::CentralEntry &entry) {
    const std::size_t end = entry.name.find('\0');
    return decoded_name(end == std::string::npos ? entry.name : entry.name.substr(0, end),
                        entry.flags);
}

py::object quoted(const py::handle &name, const char *pattern) {
    return py::str(pattern).attr("__mod__")(name);
}

// zlib's raw inflate, as zipfile reads deflated members, looked up once per
// archive: a few C-level calls per member.
class Inflate {
  public:
    Inflate()
        : make_(import_attr("zlib", "decompressobj")), decompress_("decompress"),
          unconsumed_tail_("unconsumed_tail"), eof_("eof"), flush_("flush"),
          max_length_(kBufferSize) {}

    py::object start() const { return make_(-15); }

    // Inflates `count` bytes, at most a buffer's worth of output at a time,
    // each piece shown to take(bytes).
    template <typename Take>
    void feed(const py::object &inflater, const unsigned char *data, std::size_t count,
              Take &&take) const {
        py::object input = steal(PyMemoryView_FromMemory(
            reinterpret_cast<char *>(const_cast<unsigned char *>(data)),
            static_cast<py::ssize_t>(count), PyBUF_READ));
        while (true) {
            take(call(inflater, decompress_, input.ptr(), max_length_.ptr()));
            input = steal(PyObject_GetAttr(inflater.ptr(), unconsumed_tail_.ptr()));
            if (PyBytes_GET_SIZE(input.ptr()) == 0) return;
        }
    }

    // What the inflater still holds once all the data was fed.
    template <typename Take> void finish(const py::object &inflater, Take &&take) const {
        if (!py::bool_(steal(PyObject_GetAttr(inflater.ptr(), eof_.ptr()))))
            take(call(inflater, flush_, nullptr, nullptr));
    }

  private:
    static py::object call(const py::object &inflater, const py::str &method, PyObject *a,
                           PyObject *b) {
        return steal(PyObject_CallMethodObjArgs(inflater.ptr(), method.ptr(), a, b, nullptr));
    }

    py::object make_;
    py::str decompress_, unconsumed_tail_, eof_, flush_;
    py::int_ max_length_;
};

// Checks the data of one member as reading it through zipfile would check
// it: stored and deflated data against the CRC and size of its entry. Data
// that cannot be read without more (encrypted, other methods) is copied as
// it is.
class DataCheck {
  public:
    DataCheck(const zip::CentralEntry &entry, const Inflate &inflate)
        : entry_(entry), inflate_(inflate) {
        if (entry.flags & zip::kEncrypted) return;
        if (entry.method == zip::kStored) {
            kind_ = Kind::stored;
        } else if (entry.method == zip::kDeflated) {
            kind_ = Kind::deflated;
            inflater_ = inflate.start();
        }
    }

    void see(const unsigned char *data, std::size_t count) {
        if (kind_ == Kind::stored) take_plain(data, count);
        if (kind_ == Kind::deflated)
            inflate_.feed(inflater_, data, count, [&](const py::object &out) { take_inflated(out); });
    }

    void finish(const py::handle &name) {
        if (kind_ == Kind::none) return;
        if (kind_ == Kind::deflated)
            inflate_.finish(inflater_, [&](const py::object &out) { take_inflated(out); });
        if (size_ != entry_.file_size || crc_ != entry_.crc)
            raise(bad_zip_file().ptr(), quoted(name, "Bad CRC-32 for file %r"));
    }

  private:
    enum class Kind { none, stored, deflated };

    void take_plain(const unsigned char *data, std::size_t count) {
        crc_ = core::crc32(crc_, data, count);
        size_ += count;
    }

    void take_inflated(const py::object &bytes) {
        take_plain(reinterpret_cast<const unsigned char *>(PyBytes_AS_STRING(bytes.ptr())),
                   static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
    }

    const zip::CentralEntry &entry_;
    const Inflate &inflate_;
    Kind kind_ = Kind::none;
    py::object inflater_;
    std::uint32_t crc_ = 0;
    std::uint64_t size_ = 0;
};

// The old archive as read: where its central directory says each member is.
struct OldArchive {
    std::uint64_t size = 0;
    zip::EndRecord end;
    std::vector<zip::CentralEntry> entries;
};

OldArchive read_directory(Source &source) {
    OldArchive old;
    old.size = source.file_size();
    const std::size_t tail_size = static_cast<std::size_t>(std::min<std::uint64_t>(
        old.size, (1u << 16) + zip::kEndRecordSize + zip::kZip64LocatorSize +
                      zip::kZip64EndRecordSize));
    source.seek(old.size - tail_size);
    const std::string tail = source.read(tail_size);
    if (tail.size() != tail_size) raise(bad_zip_file().ptr(), "File is not a zip file");
    old.end = zip::find_end_record(bytes_of(tail), tail.size(), old.size);
    source.seek(old.end.directory_start);
    const std::string directory = source.read(static_cast<std::size_t>(old.end.directory_size));
    if (directory.size() != old.end.directory_size)
        raise(bad_zip_file().ptr(), "Truncated central directory");
    old.entries = zip::read_central_directory(bytes_of(directory), directory.size());
    return old;
}

// The local header of a kept member, checked as zipfile checks it before
// reading the data: its signature, and its name against the directory's.
std::string read_local_record(Source &source, const OldArchive &old,
                              const zip::CentralEntry &entry) {
    const auto start = static_cast<std::int64_t>(entry.header_offset) + old.end.shift;
    if (start < 0 || static_cast<std::uint64_t>(start) >= old.size)
        raise(bad_zip_file().ptr(), "Truncated file header");
    source.seek(static_cast<std::uint64_t>(start));
    std::string record = source.read(zip::kLocalHeaderSize);
    if (record.size() != zip::kLocalHeaderSize) raise(bad_zip_file().ptr(), "Truncated file header");
    const zip::LocalHeader local = zip::read_local_header(bytes_of(record));
    if (!local.valid) raise(bad_zip_file().ptr(), "Bad magic number for file header");
    record += source.read(local.name_size + local.extra_size);
    if (record.size() != local.data_start()) raise(bad_zip_file().ptr(), "Truncated file header");
    const std::string local_name = record.substr(zip::kLocalHeaderSize, local.name_size);
    if (local_name != entry.name || (local.flags & kUtf8Name) != (entry.flags & kUtf8Name)) {
        py::str directory_name = decoded_name(entry.name, entry.flags);
        if (decoded_name(local_name, local.flags).not_equal(directory_name))
            raise(bad_zip_file().ptr(),
                  quoted(py::make_tuple(directory_name, as_bytes(local_name)),
                         "File name in directory %r and header %r differ."));
    }
    return record;
}

// Copies one kept member as it is stored, its data checked on the way, and
// returns its directory entry at its new offset.
zip::CentralEntry copy_member(Source &source, Sink &sink, const OldArchive &old,
                              const zip::CentralEntry &entry, const py::handle &name,
                              const Inflate &inflate) {
    zip::CentralEntry moved = entry;
    moved.header_offset = sink.position();
    sink.put(read_local_record(source, old, entry));
    DataCheck check(entry, inflate);
    const std::uint64_t copied = sink.pump(
        source, entry.compress_size, [&](const unsigned char *data, std::size_t count) {
            check.see(data, count);
        });
    if (copied != entry.compress_size) raise(PyExc_EOFError, quoted(name, "Truncated data of member %r"));
    check.finish(name);
    if (entry.flags & zip::kDataDescriptor) {
        const std::uint64_t at = source.position();
        const std::string after = source.read(24);
        const std::size_t size = zip::data_descriptor_size(
            bytes_of(after), after.size(), entry);
        if (size == 0) raise(bad_zip_file().ptr(), quoted(name, "Bad data descriptor for file %r"));
        sink.put(after.substr(0, size));
        source.seek(at + size);
    }
    return moved;
}

// The directory entry zipfile writes for a member it added from `record`
// (a ZipInfo) with the local header `header` it wrote for it.
zip::CentralEntry added_entry(const py::handle &record, const std::string &header,
                              std::uint64_t offset) {
    const zip::LocalHeader local = zip::read_local_header(bytes_of(header));
    zip::CentralEntry entry;
    entry.create_version = record.attr("create_version").cast<std::uint8_t>();
    entry.create_system = record.attr("create_system").cast<std::uint8_t>();
    entry.extract_version = record.attr("extract_version").cast<std::uint8_t>();
    entry.reserved = record.attr("reserved").cast<std::uint8_t>();
    entry.flags = local.flags;
    entry.method = local.method;
    entry.time = local.time;
    entry.date = local.date;
    entry.crc = record.attr("CRC").cast<std::uint32_t>();
    entry.compress_size = record.attr("compress_size").cast<std::uint64_t>();
    entry.file_size = record.attr("file_size").cast<std::uint64_t>();
    entry.header_offset = offset;
    entry.internal_attr = record.attr("internal_attr").cast<std::uint16_t>();
    entry.external_attr = record.attr("external_attr").cast<std::uint32_t>();
    entry.name = header.substr(zip::kLocalHeaderSize, local.name_size);
    entry.extra = record.attr("extra").cast<std::string>();
    entry.comment = record.attr("comment").cast<std::string>();
    return entry;
}

// Adds the file at `path` as ZipFile.write(path, basename(path)) adds it to
// an archive of stored members: its record from the file, a header written
// first and again once the data's size and CRC are known, zip64 when the
// file is large; a folder becomes an entry without data.
zip::CentralEntry add_file(Sink &sink, const py::handle &path, py::set &names) {
    py::object zipfile = py::module_::import("zipfile");
    py::object record =
        zipfile.attr("ZipInfo").attr("from_file")(path, import_attr("os.path", "basename")(path));
    py::object name = record.attr("filename");
    if (names.contains(name)) {
        py::object warn = import_attr("warnings", "warn");
        warn(quoted(name, "Duplicate name: %r"));  // attributed to the caller
    }
    names.add(name);
    record.attr("compress_type") = zipfile.attr("ZIP_STORED");
    record.attr("compress_size") = 0;
    record.attr("CRC") = 0;
    const std::uint64_t offset = sink.position();
    record.attr("header_offset") = offset;
    if (py::bool_(record.attr("is_dir")())) {
        const std::string header = record.attr("FileHeader")(false).cast<std::string>();
        sink.put(header);
        return added_entry(record, header, offset);
    }
    const bool zip64 =
        record.attr("file_size").cast<double>() * 1.05 > static_cast<double>(zip::kZip64Limit);
    sink.put(record.attr("FileHeader")(zip64).cast<std::string>());
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    with_context(import_attr("builtins", "open")(path, "rb", 0), [&](const py::object &file) {
        Source source(file.attr("fileno")().cast<int>());
        size = sink.pump(source, std::numeric_limits<std::uint64_t>::max(),
                         [&](const unsigned char *data, std::size_t count) {
                             crc = core::crc32(crc, data, count);
                         });
    });
    if (!zip64 && size > zip::kZip64Limit)
        raise(PyExc_RuntimeError, "File size too large, try using force_zip64");
    record.attr("file_size") = size;
    record.attr("compress_size") = size;
    record.attr("CRC") = crc;
    const std::string header = record.attr("FileHeader")(zip64).cast<std::string>();
    sink.patch(offset, header);
    return added_entry(record, header, offset);
}

void write_new_archive(const py::object &zip_path, const py::object &temp_path,
                       const py::list &changed_files, const py::list &changed_filenames) {
    py::object open = import_attr("builtins", "open");
    with_context(open(zip_path, "rb", 0), [&](const py::object &old_file) {
        Source source(old_file.attr("fileno")().cast<int>());
        const OldArchive old = read_directory(source);
        // The temporary file is empty: opened without truncation, a file
        // system such as ext4 does not flush it on close, as it does for a
        // file truncated and written again.
        with_context(open(temp_path, "r+b", 0), [&](const py::object &temp_file) {
            Sink sink(temp_file.attr("fileno")().cast<int>());
            std::vector<zip::CentralEntry> directory;
            py::set names;
            const Inflate inflate;
            for (const zip::CentralEntry &entry : old.entries) {
                py::str name = member_name(entry);
                const int changed = PySequence_Contains(changed_filenames.ptr(), name.ptr());
                if (changed < 0) throw py::error_already_set();
                if (changed) continue;
                directory.push_back(copy_member(source, sink, old, entry, name, inflate));
                if (PySet_Add(names.ptr(), name.ptr()) != 0) throw py::error_already_set();
            }
            for (const auto &path : changed_files) directory.push_back(add_file(sink, path, names));
            const std::uint64_t directory_start = sink.position();
            for (const zip::CentralEntry &entry : directory) sink.put(zip::central_entry_bytes(entry));
            sink.put(zip::end_record_bytes(directory.size(), sink.position() - directory_start,
                                           directory_start, old.end.comment));
            sink.flush();
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

// Removes the file at `path`. Freeing a large file's blocks takes the file
// system a while (tens of milliseconds for hundreds of megabytes): the name
// goes at once, and the file is closed for the last time, which frees them,
// on a thread of its own.
void remove_freeing_later(const py::object &path) {
    py::module_ os = py::module_::import("os");
    int fd = -1;
    try {
        fd = os.attr("open")(path, os.attr("O_RDONLY").cast<int>() | O_CLOEXEC).cast<int>();
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_OSError)) throw;
    }
    try {
        os.attr("remove")(path);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        throw;
    }
    if (fd >= 0) std::thread([fd] { ::close(fd); }).detach();
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
        try {
            write_new_archive(zip_path, temp_path, changed_files, changed_filenames);
        } catch (const zip::BadArchive &error) {
            raise(bad_zip_file().ptr(), error.what());
        }
        // mkstemp makes the file private; the archive keeps its own mode.
        py::object mode = import_attr("stat", "S_IMODE")(os.attr("stat")(zip_path).attr("st_mode"));
        os.attr("chmod")(temp_path, mode);
        os.attr("rename")(zip_path, temp_orig_filename);
        os.attr("rename")(temp_path, zip_path);
        remove_freeing_later(temp_orig_filename);
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
          "member as it is stored (its data, date, compression, attributes and comment, byte "
          "for byte) and the archive comment. Kept stored and deflated data is checked "
          "against its CRC on the way.\n\n"
          "The changed files are added last, stored, under their bare names. The new archive "
          "is written beside the old one and swapped in by renames; on any failure the "
          "archive is left as it was and no temporary or backup file remains. Does nothing "
          "when changed_files is empty.");
}

}  // namespace vb::utils
