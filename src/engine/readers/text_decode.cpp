#include "engine/readers/text_decode.h"

#include <emmintrin.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/ansi_codepage.h"
#include "platform/utf8.h"

namespace corvexa {

Encoding EncodingFromMark(const unsigned char* d, std::size_t n, Encoding requested,
                          std::size_t* markLength) {
    if (n >= 3 && d[0] == 0xEF && d[1] == 0xBB && d[2] == 0xBF) {
        *markLength = 3;
        return Encoding::Utf8;
    }
    if (n >= 2 && d[0] == 0xFF && d[1] == 0xFE) {
        *markLength = 2;
        return Encoding::Utf16LE;
    }
    if (n >= 2 && d[0] == 0xFE && d[1] == 0xFF) {
        *markLength = 2;
        return Encoding::Utf16BE;
    }
    *markLength = 0;
    return requested;
}

struct TextDecoder::Icu {
    UConverter* converter = nullptr;
    ~Icu() {
        if (converter) ucnv_close(converter);
    }
};

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// The converter of an ANSI code page (windows-1252 for one ICU lacks), or of
// UTF-8 with replacement. ICU's converters substitute what they cannot decode:
// U+FFFD for each maximal ill-formed UTF-8 subsequence, the code page's own
// choice for ANSI.
Converter OpenConverter(bool ansi, int ansiCodePage) {
    UErrorCode err = U_ZERO_ERROR;
    Converter cnv(
        ucnv_open(ansi ? platform::IcuConverterName(ansiCodePage).c_str() : "UTF-8", &err));
    if (ansi && (U_FAILURE(err) || !cnv)) {
        err = U_ZERO_ERROR;
        cnv.reset(ucnv_open("windows-1252", &err));
    }
    if (U_FAILURE(err) || !cnv) throw ReadError("no converter for the text's encoding");
    return cnv;
}

using ByteTable = std::array<char16_t, 256>;

// A code page of one byte a character decodes through a table of its 256
// characters, made once by its converter: several times faster than running
// the converter over every buffer, and the same text. Null for a code page of
// several bytes a character (or one whose bytes do not each give one unit).
const ByteTable* SingleByteTable(int codePage) {
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<ByteTable>> tables;  // null: not single-byte
    std::lock_guard lock(mutex);
    if (auto it = tables.find(codePage); it != tables.end()) return it->second.get();
    std::unique_ptr<ByteTable>& slot = tables[codePage];
    Converter cnv = OpenConverter(true, codePage);
    if (ucnv_getMaxCharSize(cnv.get()) != 1) return nullptr;
    auto table = std::make_unique<ByteTable>();
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        UChar unit[4];
        UErrorCode status = U_ZERO_ERROR;
        ucnv_reset(cnv.get());
        if (ucnv_toUChars(cnv.get(), unit, 4, &byte, 1, &status) != 1 || U_FAILURE(status))
            return nullptr;
        (*table)[static_cast<std::size_t>(b)] = static_cast<char16_t>(unit[0]);
    }
    slot = std::move(table);
    return slot.get();
}

}  // namespace

TextDecoder::TextDecoder(Encoding encoding, int ansiCodePage, bool replaceInvalid)
    : encoding_(encoding), ansiCodePage_(ansiCodePage) {
    const bool ansi = encoding_ == Encoding::Ansi;
    if (!ansi && !(encoding_ == Encoding::Utf8 && replaceInvalid)) return;
    if (ansi) {
        if (const ByteTable* table = SingleByteTable(ansiCodePage_)) {
            table_ = table->data();
            asciiSame_ = true;
            for (char16_t b = 0; b < 0x80; ++b) asciiSame_ = asciiSame_ && table_[b] == b;
            return;
        }
    }
    icu_ = new Icu;
    icu_->converter = OpenConverter(ansi, ansiCodePage_).release();
}

TextDecoder::~TextDecoder() {
    delete icu_;
}

namespace {

// Widens the ASCII at p sixteen bytes at a time, up to the first block of
// sixteen that holds another byte (or fewer than sixteen are left).
inline void WidenAscii(const unsigned char*& p, const unsigned char* end, char16_t*& o) {
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(v)) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(v, zero));
        o += 16;
        p += 16;
    }
}

// Strict UTF-8 with a fast path for ASCII. Returns the number of bytes consumed;
// a sequence cut off by the end of the piece is left unconsumed when !last.
// Text that is not UTF-8 sets *error to what is wrong with it.
std::size_t DecodeUtf8(const unsigned char* p, std::size_t n, bool last, char16_t* out,
                       std::size_t* produced, const char** error) {
    const unsigned char* const begin = p;
    const unsigned char* const end = p + n;
    char16_t* o = out;
    while (p < end) {
        WidenAscii(p, end, o);
        if (p >= end) break;
        if (*p < 0x80) {
            *o++ = *p++;
            continue;
        }
        char32_t cp;
        std::size_t len;
        switch (utf8::DecodeOne(p, end, &cp, &len)) {
            case utf8::Step::Ok:
                if (cp < 0x10000) {
                    *o++ = static_cast<char16_t>(cp);
                } else {
                    *o++ = static_cast<char16_t>(U16_LEAD(cp));
                    *o++ = static_cast<char16_t>(U16_TRAIL(cp));
                }
                p += len;
                break;
            case utf8::Step::Truncated:
                if (!last) {
                    *produced = static_cast<std::size_t>(o - out);
                    return static_cast<std::size_t>(p - begin);
                }
                *error = "truncated UTF-8 sequence at the end of the text";
                *produced = 0;
                return 0;
            case utf8::Step::Invalid:
                *error = "invalid UTF-8 byte sequence";
                *produced = 0;
                return 0;
        }
    }
    *produced = static_cast<std::size_t>(o - out);
    return static_cast<std::size_t>(p - begin);
}

}  // namespace

bool IsAscii(const char* data, std::size_t size) {
    const char* const end = data + size;
    __m128i any = _mm_setzero_si128();
    for (; end - data >= 64; data += 64) {
        const auto* v = reinterpret_cast<const __m128i*>(data);
        any = _mm_or_si128(
            any, _mm_or_si128(_mm_or_si128(_mm_loadu_si128(v), _mm_loadu_si128(v + 1)),
                              _mm_or_si128(_mm_loadu_si128(v + 2), _mm_loadu_si128(v + 3))));
    }
    for (; end - data >= 16; data += 16)
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
    if (_mm_movemask_epi8(any)) return false;
    for (; data < end; ++data)
        if (static_cast<unsigned char>(*data) >= 0x80) return false;
    return true;
}

bool IsStrictUtf8(const unsigned char* p, std::size_t n, bool* ascii) {
    const unsigned char* const end = p + n;
    bool onlyAscii = true;
    while (p < end) {
        // ASCII thirty-two bytes at a time.
        while (end - p >= 32) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            if (_mm_movemask_epi8(_mm_or_si128(a, b))) break;
            p += 32;
        }
        const unsigned char* const stop = std::min(end, p + 32);
        while (p < stop) {
            if (*p < 0x80) {
                ++p;
                continue;
            }
            onlyAscii = false;
            char32_t cp;
            std::size_t len;
            // A sequence cut off by the end is as wrong as an invalid one.
            if (utf8::DecodeOne(p, end, &cp, &len) != utf8::Step::Ok) return false;
            p += len;
        }
    }
    if (ascii) *ascii = onlyAscii;
    return true;
}

void TextDecoder::Decode(const char* data, std::size_t size, bool last, Text& out) {
    // What out held is written over, not cleared: growing it again would
    // zero the units that decoding overwrites anyway.
    out.resize(DecodeInto(data, size, last, out, 0));
}

void TextDecoder::DecodeAppend(const char* data, std::size_t size, bool last, Text& out) {
    out.resize(DecodeInto(data, size, last, out, out.size()));
}

// Grows out to at least n units; never shrinks it.
static void GrowTo(Text& out, std::size_t n) {
    if (out.size() < n) out.resize(n);
}

std::size_t TextDecoder::DecodeInto(const char* data, std::size_t size, bool last, Text& out,
                                    std::size_t base) {
    const char* error = nullptr;
    const std::size_t end = TryDecodeInto(data, size, last, out, base, &error);
    if (error) throw DecodeError(error);
    return end;
}

std::size_t TextDecoder::TryDecodeInto(const char* data, std::size_t size, bool last, Text& out,
                                       std::size_t base, const char** error) {
    auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (table_) return DecodeTable(bytes, size, out, base);
    if (icu_) return DecodeIcu(data, size, last, out, base);
    if (encoding_ != Encoding::Utf8) return DecodeUtf16(bytes, size, last, out, base);
    // At most one UTF-16 unit per byte.
    GrowTo(out, base + carried_ + size + 2);
    std::size_t produced = 0;
    std::size_t start = 0;
    if (carried_) {
        // Complete the sequence carried over from the previous piece.
        unsigned char joined[8];
        std::size_t take = std::min<std::size_t>(size, 4 - carried_);
        std::memcpy(joined, carry_, carried_);
        std::memcpy(joined + carried_, bytes, take);
        std::size_t got = 0;
        std::size_t used = DecodeUtf8(joined, carried_ + take, last && take == size,
                                      out.data() + base, &got, error);
        if (*error) return base;
        if (used < carried_) {
            // Still incomplete: only possible when the piece is tiny.
            std::memcpy(carry_ + carried_, bytes, take);
            carried_ += take;
            return base;
        }
        produced = got;
        start = used - carried_;
        carried_ = 0;
    }
    std::size_t got = 0;
    std::size_t used =
        DecodeUtf8(bytes + start, size - start, last, out.data() + base + produced, &got, error);
    if (*error) return base;
    produced += got;
    std::size_t rest = size - start - used;
    std::memcpy(carry_, bytes + start + used, rest);
    carried_ = rest;
    return base + produced;
}

std::size_t TextDecoder::DecodeUtf16(const unsigned char* bytes, std::size_t size, bool last,
                                     Text& out, std::size_t base) {
    GrowTo(out, base + size / 2 + 2);
    char16_t* o = out.data() + base;
    const bool le = encoding_ == Encoding::Utf16LE;
    std::size_t i = 0;
    auto unit = [le](unsigned char a, unsigned char b) {
        return static_cast<char16_t>(le ? (a | (b << 8)) : ((a << 8) | b));
    };
    if (carried_ && size) {
        *o++ = unit(carry_[0], bytes[0]);
        carried_ = 0;
        i = 1;
    }
    static_assert(std::endian::native == std::endian::little);
    // Eight units at a time: as they stand in little-endian order (this
    // machine's), with each unit's two bytes swapped in big-endian order.
    for (; i + 16 <= size; i += 16, o += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (!le) v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
    }
    for (; i + 1 < size; i += 2) *o++ = unit(bytes[i], bytes[i + 1]);
    if (i < size) {
        carry_[0] = bytes[i];
        carried_ = 1;
    }
    if (last && carried_) {
        *o++ = u'\uFFFD';  // an odd byte at the very end
        carried_ = 0;
    }
    return static_cast<std::size_t>(o - out.data());
}

std::size_t TextDecoder::DecodeTable(const unsigned char* p, std::size_t size, Text& out,
                                     std::size_t base) {
    GrowTo(out, base + size);
    char16_t* o = out.data() + base;
    const unsigned char* const end = p + size;
    while (p < end) {
        // ASCII as it stands, where the code page keeps it as it is.
        if (asciiSame_) WidenAscii(p, end, o);
        const unsigned char* stop = std::min(end, p + 16);
        while (p < stop) *o++ = table_[*p++];
    }
    return base + size;
}

std::size_t TextDecoder::DecodeIcu(const char* data, std::size_t size, bool last, Text& out,
                                   std::size_t base) {
    GrowTo(out, base + size + 16);
    const char* src = data;
    const char* srcEnd = data + size;
    std::size_t produced = 0;
    for (;;) {
        UChar* target = reinterpret_cast<UChar*>(out.data()) + base + produced;
        UChar* targetEnd = reinterpret_cast<UChar*>(out.data()) + out.size();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(icu_->converter, &target, targetEnd, &src, srcEnd, nullptr, last, &err);
        produced = static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out.data())) - base;
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        break;  // substitution never fails
    }
    return base + produced;
}

}  // namespace corvexa
