#pragma once

// Where the plain-text readers take a file's bytes from.
//
// Every plain-text reader (ScanFileStream, ScanMemoryStream, ScanPlainText,
// LoadText, LoadLines in text_reader.h) has a form that takes a ByteSource
// instead of a path, so the same code reads a file on disk (FileSource) or
// bytes already in memory (MemorySource: tests, fuzzing, texts that never were
// a file). A reader opens the source once per reading attempt and reads it
// from the first byte to the end; a retry opens it again.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "engine/text.h"

namespace corvexa {

// A file that could not be opened or read, or text that is not valid in the
// encoding it was read with. Ends the processing of one file.
class ReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class DecodeError : public ReadError {
public:
    using ReadError::ReadError;
};
// A document its reader cannot decode as a document of its kind (no message,
// no workbook, nothing the PDF library can open): it is read as plain text
// instead, like any other file.
class NotDecodable : public ReadError {
public:
    using ReadError::ReadError;
};
// A document a reader read only in part, because one of its bounds cut it
// short: carries the text read until then; what() names the bound. Its
// addresses are kept and the file counts as partly read.
class PartialRead : public ReadError {
public:
    PartialRead(Text text, const std::string& why) : ReadError(why), text_(std::move(text)) {}
    const Text& TextSoFar() const { return text_; }

private:
    Text text_;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Starts a fresh read at the first byte and returns the size the source
    // announces, a hint only (a file may grow or shrink while it is read).
    // Throws ReadError.
    virtual std::uint64_t Open() = 0;
    // Fills up to size bytes; fewer means the end was reached. Throws ReadError.
    virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// Bytes in memory. The bytes are not copied: they must outlive the source.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::uint64_t Open() override {
        pos_ = 0;
        return bytes_.size();
    }
    std::size_t Read(char* buffer, std::size_t size) override;

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// The folder of the file opened last, held open, so that the next file of the
// same folder is opened by its name within it: the system then walks the
// folder's path once for all its files, not once a file (in a scan of many
// small files that walk is a large part of the cost of opening them). Used by
// one thread at a time; the folder is let go when a file of another folder
// comes, and with the cache. A folder renamed or replaced while its files are
// read is read as it was when the first of them was opened.
class FolderCache {
public:
    FolderCache() = default;
    ~FolderCache();
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // Opens the file at `native` (a path in the system's encoding) as
    // platform::OpenNative does, with the same result and errno.
    int Open(const std::string& native, int flags);
    // Lets the folder go (a folder held open keeps its file system from being
    // unmounted).
    void Release();

private:
    std::string folder_;
    int fd_ = -1;
};

// A regular file, opened for reading by path (of any length: a path longer
// than the system's limit is opened one folder at a time). Anything else (a
// folder, a pipe, a device) is refused, as reading it could block or never end.
//
// A file on a kernel pseudo file system (proc, sysfs and the like, see
// IsPseudoFileSystem) announces a size that means nothing and may stream
// without end (/proc/self/pagemap), so it is read up to kPseudoFileLimit
// bytes; one that holds more fails with a ReadError at that point.
class FileSource : public ByteSource {
public:
    explicit FileSource(Text path, FolderCache* folders = nullptr)
        : path_(std::move(path)), folders_(folders) {}
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t Open() override;
    std::size_t Read(char* buffer, std::size_t size) override;

    static constexpr std::uint64_t kPseudoFileLimit = std::uint64_t{16} << 20;

private:
    [[noreturn]] void Fail(const char* what);
    void Close();

    Text path_;
    FolderCache* folders_;
    int fd_ = -1;
    std::uint64_t limit_ = UINT64_MAX;  // bytes this file may give
    std::uint64_t read_ = 0;
};

// Whether statfs's f_type names a kernel pseudo file system: its entries are
// made up by the kernel as they are read, not stored (proc, sysfs, debugfs,
// tracefs, cgroup, securityfs, pstore, bpf, configfs, efivarfs, and others).
bool IsPseudoFileSystem(std::int64_t fsType);
// The same for the file system that holds the open descriptor fd.
bool IsOnPseudoFileSystem(int fd);

}  // namespace corvexa
