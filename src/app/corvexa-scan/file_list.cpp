#include "app/corvexa-scan/file_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "engine/readers/text_reader.h"
#include "platform/native_path.h"

namespace corvexa::cli {

std::vector<Text> ReadFileList(const std::string& path) {
    std::string bytes;
    {
        int fd = path == "-" ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw ReadError("cannot open " + path + ": " + std::strerror(errno));
        char buf[65536];
        for (;;) {
            ssize_t r = ::read(fd, buf, sizeof buf);
            if (r > 0) {
                bytes.append(buf, static_cast<std::size_t>(r));
            } else if (r == 0) {
                break;
            } else if (errno != EINTR) {
                int e = errno;
                if (fd != 0) ::close(fd);
                throw ReadError("cannot read " + path + ": " + std::strerror(e));
            }
        }
        if (fd != 0) ::close(fd);
    }
    return ParseFileList(bytes);
}

std::vector<Text> ParseFileList(std::string_view bytes) {
    std::vector<Text> list;
    auto* u = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t markLength = 0;
    Encoding enc = EncodingFromMark(u, bytes.size(), Encoding::Utf8, &markLength);
    if (enc == Encoding::Utf16LE || enc == Encoding::Utf16BE) {
        TextDecoder decoder(enc, 1252);
        Text text;
        decoder.Decode(bytes.data() + markLength, bytes.size() - markLength, true, text);
        Lines lines;
        std::atomic<bool> never{false};
        ScanTextLines(text, lines, never);
        for (std::size_t i = 0; i < lines.Size(); ++i)
            if (!lines[i].empty()) list.emplace_back(lines[i]);
        return list;
    }
    std::string_view rest = bytes.substr(markLength);
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of("\r\n");
        std::string_view line = rest.substr(0, end);
        if (!line.empty()) list.push_back(platform::PathFromNative(line));
        if (end == std::string_view::npos) break;
        std::size_t next = end + 1;
        if (rest[end] == '\r' && next < rest.size() && rest[next] == '\n') ++next;
        rest.remove_prefix(next);
    }
    return list;
}

}  // namespace corvexa::cli
