#include "platform/native_path.h"

#include <emmintrin.h>
#include <fcntl.h>
#include <limits.h>
#include <unicode/utf16.h>
#include <unistd.h>

#include <cerrno>

#include "platform/utf8.h"

namespace corvexa::platform {
namespace {

// A byte b that is not part of valid UTF-8 is carried as the lone surrogate
// kEscapedByte + b (b is 0x80..0xFF).
constexpr char16_t kEscapedByte = 0xDC00;

}  // namespace

std::u16string PathFromNative(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    auto* end = p + bytes.size();
    while (p < end) {
        char32_t cp;
        std::size_t len;
        if (utf8::DecodeOne(p, end, &cp, &len) == utf8::Step::Ok) {
            utf8::AppendUtf16(out, cp);
            p += len;
        } else {
            out.push_back(static_cast<char16_t>(kEscapedByte + *p));
            ++p;
        }
    }
    return out;
}

std::string NativeFromPath(std::u16string_view path) {
    // Most paths are ASCII: eight units at a time are narrowed to bytes.
    std::string out(path.size(), '\0');
    std::size_t ascii = 0;
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; ascii + 8 <= path.size(); ascii += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(path.data() + ascii));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero)) != 0xFFFF) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out.data() + ascii), _mm_packus_epi16(v, v));
    }
    for (; ascii < path.size() && path[ascii] < 0x80; ++ascii)
        out[ascii] = static_cast<char>(path[ascii]);
    if (ascii == path.size()) return out;
    out.resize(ascii);
    out.reserve(path.size() * 3);
    auto put = [&](char32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (std::size_t i = ascii; i < path.size(); ++i) {
        char16_t c = path[i];
        if (U16_IS_LEAD(c) && i + 1 < path.size() && U16_IS_TRAIL(path[i + 1])) {
            put(static_cast<char32_t>(U16_GET_SUPPLEMENTARY(c, path[i + 1])));
            ++i;
        } else if (c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF) {
            out.push_back(static_cast<char>(c - kEscapedByte));  // an escaped raw byte
        } else if (U16_IS_SURROGATE(c)) {
            put(0xFFFD);
        } else {
            put(c);
        }
    }
    return out;
}

std::u16string ExtendedPath(std::u16string_view path) {
    return std::u16string(path);
}

}  // namespace corvexa::platform

namespace corvexa::platform {

int OpenNative(const std::string& native, int flags) {
    if (native.size() < PATH_MAX) return ::open(native.c_str(), flags | O_CLOEXEC);
    int dir = AT_FDCWD;
    auto closeDir = [&dir] {
        if (dir != AT_FDCWD) ::close(dir);
    };
    if (native[0] == '/') {
        dir = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) return -1;
    }
    std::size_t pos = 0;
    std::string part;
    for (;;) {
        while (pos < native.size() && native[pos] == '/') ++pos;
        std::size_t end = native.find('/', pos);
        if (end == std::string::npos) end = native.size();
        part.assign(native, pos, end - pos);
        std::size_t next = end;
        while (next < native.size() && native[next] == '/') ++next;
        if (next >= native.size()) {
            // The final component ("." when the path ends with a slash).
            int fd = ::openat(dir, part.empty() ? "." : part.c_str(), flags | O_CLOEXEC);
            int saved = errno;
            closeDir();
            errno = saved;
            return fd;
        }
        int sub = ::openat(dir, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        int saved = errno;
        closeDir();
        if (sub < 0) {
            errno = saved;
            return -1;
        }
        dir = sub;
        pos = next;
    }
}

}  // namespace corvexa::platform
