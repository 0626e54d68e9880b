#include "engine/file_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "engine/readers/text_reader.h"
#include "platform/fd_io.h"
#include "platform/native_path.h"

namespace corvexa {
namespace {

Text Decode(std::string_view bytes, Encoding encoding) {
    TextDecoder decoder(encoding, 1252);  // the code page plays no part in UTF-16
    Text text;
    decoder.Decode(bytes.data(), bytes.size(), true, text);
    return text;
}

std::string ReadWholeFile(const Text& path) {
    const std::string native = platform::NativeFromPath(path);
    auto fail = [&](const char* what, int error) {
        throw ReadError(std::string(what) + " " + native + ": " + std::strerror(error));
    };
    // Not blocking on a pipe or device: only a regular file is read.
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) fail("cannot open", errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        fail("cannot examine", error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError("not a regular file: " + native);
    }
    std::string bytes;
    const bool ok = platform::ReadToEnd(fd, bytes);
    const int error = errno;
    ::close(fd);
    if (!ok) fail("cannot read", error);
    return bytes;
}

void AddEntry(std::vector<Text>& entries, Text entry, EmptyLines empty) {
    if (empty == EmptyLines::Keep || !entry.empty()) entries.push_back(std::move(entry));
}

}  // namespace

std::vector<Text> ParseFileList(std::string_view bytes, EmptyLines empty) {
    std::size_t mark = 0;
    const Encoding encoding = EncodingFromMark(reinterpret_cast<const unsigned char*>(bytes.data()),
                                               bytes.size(), Encoding::Utf8, &mark);
    std::string_view rest = bytes.substr(mark);
    std::vector<Text> entries;
    if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) {
        Lines lines;
        const std::atomic<bool> never{false};
        ScanTextLines(Decode(rest, encoding), lines, never);
        for (std::size_t i = 0; i < lines.Size(); ++i) AddEntry(entries, Text(lines[i]), empty);
        return entries;
    }
    // Line by line: the bytes of a line are its name, read as UTF-8 where they
    // are valid and kept as bytes where they are not.
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        AddEntry(entries, platform::PathFromNative(rest.substr(0, end)), empty);
        if (end == std::string_view::npos) break;
        std::size_t next = end + 1;
        if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n') ++next;
        rest.remove_prefix(next);
    }
    return entries;
}

std::vector<Text> LoadFileList(const Text& path) {
    return ParseFileList(ReadWholeFile(path));
}

FileListStream::FileListStream(const std::string& argument) : argument_(argument) {
    standardInput_ = argument == "-";
    fd_ = standardInput_ ? 0 : ::open(argument.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw ReadError("cannot open " + argument + ": " + std::strerror(errno));
}

FileListStream::~FileListStream() {
    if (!standardInput_) ::close(fd_);
}

bool FileListStream::ReadMore(std::size_t size, const std::atomic<bool>* stop) {
    const std::size_t had = pending_.size();
    pending_.resize(had + size);
    for (;;) {
        const ssize_t r = ::read(fd_, pending_.data() + had, size);
        if (r >= 0) {
            pending_.resize(had + static_cast<std::size_t>(r));
            return r > 0;
        }
        const int error = errno;
        pending_.resize(had);
        if (error != EINTR)
            throw ReadError("cannot read " + argument_ + ": " + std::strerror(error));
        if (stop && stop->load()) return false;
    }
}

bool FileListStream::Next(std::vector<Text>& names, const std::atomic<bool>* stop) {
    names.clear();
    if (ended_) return false;
    // A small first piece, so that the scan starts at once; then larger ones.
    const std::size_t size = std::size_t{8 * 1024} << std::min<std::size_t>(pieces_++, 5);
    std::size_t cut = std::string::npos;
    while (cut == std::string::npos) {
        if (!ReadMore(size, stop)) {
            ended_ = true;
            if (stop && stop->load()) return false;
            break;
        }
        if (!started_ && pending_.size() < 4) continue;  // room for a mark
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(pending_.data());
        std::size_t mark = 0;
        const Encoding encoding = EncodingFromMark(bytes, pending_.size(), Encoding::Utf8, &mark);
        if (!started_ && (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE)) {
            // Not cut into pieces: read to the end, parsed as a whole.
            while (ReadMore(size, stop)) {
            }
            ended_ = true;
            if (stop && stop->load()) return false;
            break;
        }
        cut = pending_.find_last_of("\r\n");
    }
    if (ended_) cut = pending_.size();
    names = ParseFileList(std::string_view(pending_).substr(0, cut), EmptyLines::Skip);
    started_ = true;
    // The line break before the rest goes with it: an empty line, left out.
    pending_.erase(0, cut);
    if (ended_) pending_.clear();
    return true;
}

std::vector<Text> ReadFileListArgument(const std::string& argument) {
    const bool standardInput = argument == "-";
    const int fd = standardInput ? 0 : ::open(argument.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ReadError("cannot open " + argument + ": " + std::strerror(errno));
    std::string bytes;
    const bool ok = platform::ReadToEnd(fd, bytes);
    const int error = errno;
    if (!standardInput) ::close(fd);
    if (!ok) throw ReadError("cannot read " + argument + ": " + std::strerror(error));
    return ParseFileList(bytes, EmptyLines::Skip);
}

}  // namespace corvexa
