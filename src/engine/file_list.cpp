#include "engine/file_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "engine/readers/text_reader.h"
#include "platform/fd_io.h"
#include "platform/native_path.h"
#include "platform/utf8.h"

namespace corvexa {
namespace {

Text Decode(std::string_view bytes, Encoding encoding, int ansiCodePage) {
    TextDecoder decoder(encoding, ansiCodePage);
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

}  // namespace

std::vector<Text> ParseFileList(std::string_view bytes, int ansiCodePage) {
    std::size_t mark = 0;
    const Encoding encoding = EncodingFromMark(reinterpret_cast<const unsigned char*>(bytes.data()),
                                               bytes.size(), Encoding::Ansi, &mark);
    const std::string_view body = bytes.substr(mark);
    Text text;
    if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE)
        text = Decode(body, encoding, ansiCodePage);
    else if (encoding == Encoding::Utf8 || utf8::IsValid(body))
        text = platform::PathFromNative(body);
    else
        text = Decode(body, Encoding::Ansi, ansiCodePage);

    Lines lines;
    const std::atomic<bool> never{false};
    ScanTextLines(text, lines, never);
    std::vector<Text> entries;
    entries.reserve(lines.Size());
    for (std::size_t i = 0; i < lines.Size(); ++i) entries.emplace_back(lines[i]);
    return entries;
}

std::vector<Text> LoadFileList(const Text& path, int ansiCodePage) {
    return ParseFileList(ReadWholeFile(path), ansiCodePage);
}

}  // namespace corvexa
