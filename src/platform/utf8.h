#pragma once

#include <unicode/utf16.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvexa::utf8 {

// Result of decoding one UTF-8 sequence strictly (no overlong forms, no
// surrogates, nothing above U+10FFFF).
enum class Step { Ok, Invalid, Truncated };

// Decodes the sequence that starts at p (p < end). On Ok, *cp is the code point
// and *len its byte count. Truncated means the bytes so far are a valid prefix
// but the data ends before the sequence does.
inline Step DecodeOne(const unsigned char* p, const unsigned char* end, char32_t* cp,
                      std::size_t* len) {
    unsigned char b0 = p[0];
    if (b0 < 0x80) {
        *cp = b0;
        *len = 1;
        return Step::Ok;
    }
    std::size_t n;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        c = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;  // overlong
        else if (b0 == 0xED)
            hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        c = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;  // overlong
        else if (b0 == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        return Step::Invalid;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (p + i >= end) return Step::Truncated;
        unsigned char b = p[i];
        unsigned char l = i == 1 ? lo : 0x80;
        unsigned char h = i == 1 ? hi : 0xBF;
        if (b < l || b > h) return Step::Invalid;
        c = (c << 6) | (b & 0x3F);
    }
    *cp = c;
    *len = n;
    return Step::Ok;
}

// Whether the bytes are well-formed UTF-8 throughout, by the rules of DecodeOne
// (a sequence cut off at the end is not).
inline bool IsValid(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        char32_t cp;
        std::size_t len;
        if (DecodeOne(p, end, &cp, &len) != Step::Ok) return false;
        p += len;
    }
    return true;
}

// Appends a code point as UTF-16.
template <class Out>
inline void AppendUtf16(Out& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        out.push_back(static_cast<char16_t>(U16_LEAD(cp)));
        out.push_back(static_cast<char16_t>(U16_TRAIL(cp)));
    }
}

}  // namespace corvexa::utf8
