#include "engine/readers/text_reader.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "platform/ansi_codepage.h"
#include "platform/utf8.h"

namespace corvexa {

// ---------------------------------------------------------------------------
// Byte-order marks and decoding

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

// Strict UTF-8 with a fast path for ASCII. Returns the number of bytes consumed;
// a sequence cut off by the end of the piece is left unconsumed when !last.
std::size_t DecodeUtf8(const unsigned char* p, std::size_t n, bool last, char16_t* out,
                       std::size_t* produced) {
    const unsigned char* const begin = p;
    const unsigned char* const end = p + n;
    char16_t* o = out;
    const __m128i zero = _mm_setzero_si128();
    while (p < end) {
        // ASCII sixteen bytes at a time.
        while (end - p >= 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(v)) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(v, zero));
            o += 16;
            p += 16;
        }
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
                throw DecodeError("truncated UTF-8 sequence at the end of the text");
            case utf8::Step::Invalid:
                throw DecodeError("invalid UTF-8 byte sequence");
        }
    }
    *produced = static_cast<std::size_t>(o - out);
    return static_cast<std::size_t>(p - begin);
}

}  // namespace

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
        std::size_t used =
            DecodeUtf8(joined, carried_ + take, last && take == size, out.data() + base, &got);
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
        DecodeUtf8(bytes + start, size - start, last, out.data() + base + produced, &got);
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
    const __m128i zero = _mm_setzero_si128();
    while (p < end) {
        // ASCII sixteen bytes at a time, where the code page keeps it as it is.
        while (asciiSame_ && end - p >= 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (_mm_movemask_epi8(v)) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(v, zero));
            o += 16;
            p += 16;
        }
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

// ---------------------------------------------------------------------------
// Lines

namespace {

// The position of the first CR or LF at or after i; n when there is none.
std::size_t FindBreak(const char16_t* p, std::size_t i, std::size_t n) {
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr))));
        if (m) return i + static_cast<std::size_t>(std::countr_zero(m)) / 2;
    }
    for (; i < n; ++i)
        if (p[i] == u'\n' || p[i] == u'\r') return i;
    return n;
}

// The position of the last CR or LF in [from, to); npos when there is none.
std::size_t FindLastBreak(const char16_t* p, std::size_t from, std::size_t to) {
    while (to > from) {
        --to;
        if (p[to] == u'\n' || p[to] == u'\r') return to;
    }
    return TextView::npos;
}

// CountBreaks sixteen units at a time, from i while a unit after the block
// remains; i is left where it stopped.
__attribute__((target("avx2"))) std::uint64_t CountBreaksAvx2(const char16_t* p, std::size_t& i,
                                                              std::size_t to) {
    const __m256i lf = _mm256_set1_epi16(u'\n');
    const __m256i cr = _mm256_set1_epi16(u'\r');
    const __m256i ones = _mm256_set1_epi16(1);
    std::uint64_t count = 0;
    while (i + 17 <= to) {
        __m256i lanes = _mm256_setzero_si256();
        for (int round = 0; round < 8192 && i + 17 <= to; ++round, i += 16) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
            __m256i isCr = _mm256_cmpeq_epi16(v, cr);
            __m256i crLf = _mm256_and_si256(isCr, _mm256_cmpeq_epi16(next, lf));
            __m256i breaks =
                _mm256_or_si256(_mm256_cmpeq_epi16(v, lf), _mm256_andnot_si256(crLf, isCr));
            lanes = _mm256_sub_epi16(lanes, breaks);
        }
        alignas(32) std::uint32_t sums[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums), _mm256_madd_epi16(lanes, ones));
        for (std::uint32_t sum : sums) count += sum;
    }
    return count;
}

const bool kCountWithAvx2 = __builtin_cpu_supports("avx2");

// The line breaks in [from, to), a CR LF counting once (as its LF).
std::uint64_t CountBreaks(const char16_t* p, std::size_t from, std::size_t to) {
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i ones = _mm_set1_epi16(1);
    std::uint64_t count = 0;
    std::size_t i = from;
    if (kCountWithAvx2) count += CountBreaksAvx2(p, i, to);
    while (i + 9 <= to) {
        // Eight lanes of 16-bit counts, each below 65536 when added up.
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < 8192 && i + 9 <= to; ++round, i += 8) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
            __m128i isCr = _mm_cmpeq_epi16(v, cr);
            __m128i crLf = _mm_and_si128(isCr, _mm_cmpeq_epi16(next, lf));
            __m128i breaks = _mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_andnot_si128(crLf, isCr));
            lanes = _mm_sub_epi16(lanes, breaks);  // a break is -1 in its lane
        }
        alignas(16) std::uint32_t sums[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_madd_epi16(lanes, ones));
        count += std::uint64_t{sums[0]} + sums[1] + sums[2] + sums[3];
    }
    for (; i < to; ++i)
        if (p[i] == u'\n' || (p[i] == u'\r' && !(i + 1 < to && p[i + 1] == u'\n'))) ++count;
    return count;
}

}  // namespace

bool LineCutter::Feed(TextView text, LineSink& sink, const std::atomic<bool>& stop, bool last) {
    if (FeedLines(text, sink, stop, last)) return true;
    Abandon(sink);
    return false;
}

void LineCutter::Abandon(LineSink& sink) {
    if (inParts_) sink.AbandonLine();
    inParts_ = false;
    pending_.clear();
    uncut_ = 0;
}

bool LineCutter::FeedLines(TextView text, LineSink& sink, const std::atomic<bool>& stop,
                           bool last) {
    // Checked once a piece too, so that a stop also ends a file whose lines
    // are all passed over.
    if (stop.load(std::memory_order_relaxed)) return false;
    const char16_t* p = text.data();
    const std::size_t n = text.size();
    const bool numbering = sink.numberLines;
    std::size_t start = 0;
    if (skipLf_ && n > 0) {
        if (p[0] == u'\n') start = 1;
        skipLf_ = false;
    }
    // Past the break at b: a CR LF is one break; a CR at the very end of the
    // piece may be followed by the LF at the start of the next one.
    auto after = [&](std::size_t b) {
        if (p[b] == u'\r') {
            if (b + 1 < n) {
                if (p[b + 1] == u'\n') ++b;
            } else {
                skipLf_ = true;
            }
        }
        return b + 1;
    };

    // A line begun in an earlier piece is completed first.
    if (!pending_.empty() || inParts_) {
        std::size_t b = FindBreak(p, start, n);
        pending_.append(p + start, b - start);
        if (b == n) return last ? HandOver(sink, stop) : TrimPending(sink, stop);
        if (!HandOver(sink, stop)) return false;
        start = after(b);
        if (numbering) ++breaks_;
    }

    while (start < n) {
        std::size_t key = sink.NextKey(p, start, n);
        if (key >= n) {
            // Nothing the sink wants in the rest: pass over its complete lines.
            std::size_t lastBreak = FindLastBreak(p, start, n);
            if (lastBreak != TextView::npos) {
                if (numbering) breaks_ += CountBreaks(p, start, lastBreak + 1);
                start = after(lastBreak);
            }
            if (last) return true;  // nor in the final line
            break;
        }
        // Pass over the lines that end before the key. The last break before
        // a key is never the CR of a CR LF: the key is neither.
        if (std::size_t lb = FindLastBreak(p, start, key); lb != TextView::npos) {
            if (numbering) breaks_ += CountBreaks(p, start, lb + 1);
            start = lb + 1;
        }
        std::size_t b = FindBreak(p, key, n);
        if (b == n) {
            if (last) return HandLine(p, start, n, true, sink, stop);
            break;  // the line goes on in the next piece
        }
        if (!HandLine(p, start, b, true, sink, stop)) return false;
        start = after(b);
        if (numbering) ++breaks_;
    }
    if (start < n) {
        // The start of a line that goes on: its long front goes over now.
        if (!HandParts(p, start, n, sink, stop)) return false;
        pending_.append(p + start, n - start);
        return TrimPending(sink, stop);
    }
    return true;
}

bool LineCutter::Part(TextView part, LineSink& sink, const std::atomic<bool>& stop) {
    if (stop.load(std::memory_order_relaxed)) return false;
    if (sink.NextKey(part.data(), 0, part.size()) < part.size()) {
        if (sink.numberLines) sink.lineNumber = breaks_ + 1;
        sink.LinePart(part);
        inParts_ = true;
    }
    return true;
}

namespace {

// The last allowed cut in p[from, to); npos when there is none.
std::size_t LastCut(const LineCuts& cuts, const char16_t* p, std::size_t from, std::size_t to) {
    while (to > from) {
        --to;
        if (cuts.After(p[to])) return to;
    }
    return TextView::npos;
}

}  // namespace

bool LineCutter::HandParts(const char16_t* p, std::size_t& pos, std::size_t end, LineSink& sink,
                           const std::atomic<bool>& stop) {
    const LineCuts* cuts = sink.Cuts();
    if (!cuts) return true;
    while (end - pos > kPartLength) {
        std::size_t cut = LastCut(*cuts, p, pos, pos + kPartLength);
        if (cut == TextView::npos) {
            // A long run without a cut: the part ends after the run.
            cut = pos + kPartLength;
            while (cut < end && !cuts->After(p[cut])) ++cut;
            if (cut == end) return true;
        }
        if (!Part(TextView(p + pos, cut + 1 - pos), sink, stop)) return false;
        pos = cut + 1;
    }
    return true;
}

bool LineCutter::HandLine(const char16_t* p, std::size_t start, std::size_t end, bool wanted,
                          LineSink& sink, const std::atomic<bool>& stop) {
    if (!HandParts(p, start, end, sink, stop)) return false;
    if (stop.load(std::memory_order_relaxed)) return false;
    if (wanted || inParts_ || sink.NextKey(p, start, end) < end) {
        if (sink.numberLines) sink.lineNumber = breaks_ + 1;
        sink.Line(TextView(p + start, end - start));
    }
    inParts_ = false;
    return true;
}

bool LineCutter::TrimPending(LineSink& sink, const std::atomic<bool>& stop) {
    const LineCuts* cuts = sink.Cuts();
    if (!cuts || pending_.size() <= kPartLength) return true;
    std::size_t cut = LastCut(*cuts, pending_.data(), uncut_, pending_.size());
    if (cut == TextView::npos) {
        uncut_ = pending_.size();  // held whole until a cut comes
        return true;
    }
    if (!Part(TextView(pending_).substr(0, cut + 1), sink, stop)) return false;
    pending_.erase(0, cut + 1);
    uncut_ = pending_.size();
    return true;
}

bool LineCutter::HandOver(LineSink& sink, const std::atomic<bool>& stop) {
    std::size_t pos = 0;
    bool ok = HandLine(pending_.data(), pos, pending_.size(), false, sink, stop);
    pending_.clear();
    uncut_ = 0;
    return ok;
}

bool LineCutter::Finish(LineSink& sink, const std::atomic<bool>& stop) {
    if (pending_.empty() && !inParts_) return true;
    if (HandOver(sink, stop)) return true;
    Abandon(sink);
    return false;
}

void Lines::Line(TextView line) {
    spans_.emplace_back(text_.size(), line.size());
    text_.append(line);
}

void ScanTextLines(TextView text, LineSink& sink, const std::atomic<bool>& stop) {
    LineCutter cutter;
    try {
        cutter.Feed(text, sink, stop, true);
    } catch (...) {
        cutter.Abandon(sink);
        throw;
    }
}

// ---------------------------------------------------------------------------
// Files

namespace {

// Hands out a file's bytes in buffers of kReadBufferSize, exactly as reads of
// that size would (full until the end of the file, then shorter or empty), but
// fetches sixteen of them per system call.
class Buffers {
public:
    explicit Buffers(ByteSource& source) : source_(source) {}

    std::size_t Next(const char** data) {
        if (pos_ == have_ && !end_) {
            have_ = source_.Read(chunk_, sizeof chunk_);
            pos_ = 0;
            end_ = have_ < sizeof chunk_;
        }
        std::size_t take = std::min(kReadBufferSize, have_ - pos_);
        *data = chunk_ + pos_;
        pos_ += take;
        return take;
    }

private:
    ByteSource& source_;
    char chunk_[16 * kReadBufferSize];
    std::size_t have_ = 0, pos_ = 0;
    bool end_ = false;
};

// Reads a file through the buffer: onOpen(size in bytes) first, then
// onPiece(decoder, bytes, count, last) for each buffer, which returns false to
// stop. Returns false when stopped. With replaceAfterMark (the scan's readers)
// text after a UTF-8 mark never fails to decode; LoadText and LoadLines (file
// lists, tables) stay strict, so a damaged list is refused, not half read.
template <class OnOpen, class OnPiece>
bool DecodeFile(ByteSource& source, Encoding requested, int ansiCodePage, bool replaceAfterMark,
                OnOpen&& onOpen, OnPiece&& onPiece) {
    onOpen(source.Open());
    Buffers buffers(source);
    const char* data;
    std::size_t n = buffers.Next(&data);
    std::size_t mark = 0;
    Encoding encoding =
        EncodingFromMark(reinterpret_cast<const unsigned char*>(data), n, requested, &mark);
    // A UTF-8 mark names the text's encoding: a stray byte further on is
    // replaced rather than failing the whole file (and a retry in ANSI would
    // only meet the mark again).
    TextDecoder decoder(encoding, ansiCodePage,
                        replaceAfterMark && encoding == Encoding::Utf8 && mark == 3);
    std::size_t size = n - mark;
    data += mark;
    bool last = n < kReadBufferSize;
    for (;;) {
        if (!onPiece(decoder, data, size, last)) return false;
        if (last) return true;
        size = buffers.Next(&data);
        last = size < kReadBufferSize;
    }
}

// Decodes a file buffer by buffer and cuts it into lines as it goes.
void ReadLines(ByteSource& source, Encoding requested, int ansiCodePage, bool replaceAfterMark,
               LineSink& sink, const std::atomic<bool>& stop) {
    LineCutter cutter;
    Text decoded;
    try {
        if (DecodeFile(
                source, requested, ansiCodePage, replaceAfterMark, [](std::uint64_t) {},
                [&](TextDecoder& decoder, const char* data, std::size_t size, bool last) {
                    const std::size_t end = decoder.DecodeInto(data, size, last, decoded, 0);
                    return cutter.Feed(TextView(decoded.data(), end), sink, stop);
                }))
            cutter.Finish(sink, stop);
    } catch (...) {
        cutter.Abandon(sink);
        throw;
    }
}

const std::atomic<bool> kNeverStop{false};

}  // namespace

void ScanFileStream(ByteSource& source, Encoding encoding, ReadContext& ctx) {
    ReadLines(source, encoding, ctx.ansiCodePage, true, ctx.sink, ctx.stop);
}

void ScanFileStream(const Text& path, Encoding encoding, ReadContext& ctx) {
    FileSource source(path);
    ScanFileStream(source, encoding, ctx);
}

void LoadText(ByteSource& source, Encoding encoding, int ansiCodePage, Text& text) {
    text.clear();
    DecodeFile(
        source, encoding, ansiCodePage, false,
        // One UTF-16 unit per byte at most, so this is the only allocation.
        [&](std::uint64_t bytes) { text.reserve(static_cast<std::size_t>(bytes) + 16); },
        [&](TextDecoder& decoder, const char* data, std::size_t size, bool last) {
            decoder.DecodeAppend(data, size, last, text);
            return true;
        });
}

void LoadText(const Text& path, Encoding encoding, int ansiCodePage, Text& text) {
    FileSource source(path);
    LoadText(source, encoding, ansiCodePage, text);
}

void LoadLines(ByteSource& source, Encoding encoding, int ansiCodePage, Lines& lines) {
    lines.Clear();
    ReadLines(source, encoding, ansiCodePage, false, lines, kNeverStop);
}

void LoadLines(const Text& path, Encoding encoding, int ansiCodePage, Lines& lines) {
    FileSource source(path);
    LoadLines(source, encoding, ansiCodePage, lines);
}

namespace {

// LoadText, but giving up (false) once the text grows past `limit` units.
// The text is written from the start of `text` over what it held before, and
// *length receives its end: `text` itself never shrinks, so that memory used
// again is not zeroed again.
bool LoadTextUpTo(ByteSource& source, Encoding encoding, int ansiCodePage, std::size_t limit,
                  Text& text, std::size_t* length) {
    *length = 0;
    bool tooLarge = false;
    return DecodeFile(
        source, encoding, ansiCodePage, true,
        [&](std::uint64_t bytes) {
            // No encoding gives fewer units than half the bytes.
            tooLarge = bytes / 2 > limit;
            // A piece decodes to at most one unit per byte (and a little), so
            // this is the only allocation unless the file grows meanwhile.
            const std::size_t want = static_cast<std::size_t>(bytes) + kReadBufferSize;
            if (tooLarge || want <= text.capacity()) return;
            Text().swap(text);  // what it held is not copied over
            text.reserve(want);
        },
        [&](TextDecoder& decoder, const char* data, std::size_t size, bool last) {
            if (tooLarge) return false;
            *length = decoder.DecodeInto(data, size, last, text, *length);
            return *length <= limit;
        });
}

// Whether the whole source decodes in UTF-8 (or in what its mark selects).
// A stop ends the pass early; the caller checks it.
bool DecodesAsUtf8(ByteSource& source, int ansiCodePage, const std::atomic<bool>& stop) {
    Text scratch;
    try {
        DecodeFile(
            source, Encoding::Utf8, ansiCodePage, true, [](std::uint64_t) {},
            [&](TextDecoder& decoder, const char* data, std::size_t size, bool last) {
                decoder.DecodeInto(data, size, last, scratch, 0);
                return !stop.load(std::memory_order_relaxed);
            });
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace

void ScanMemoryStream(ByteSource& source, ReadContext& ctx) {
    // The whole file is decoded before its first line is examined, so a
    // decoding error never hands a line over twice.
    // The buffer is kept from file to file on this thread, so that a folder of
    // small files does not allocate (and fault in) fresh memory for each one.
    static thread_local Text text;
    // Its size is where earlier files ended, not this one's length.
    struct Release {
        ~Release() {
            if (text.capacity() > (std::size_t{8} << 20)) Text().swap(text);
        }
    } release;
    Encoding encoding = Encoding::Utf8;
    std::size_t length = 0;
    bool whole;
    try {
        whole = LoadTextUpTo(source, encoding, ctx.ansiCodePage, kMemoryStreamLimit, text, &length);
    } catch (const std::bad_alloc&) {
        throw;  // never taken for text that is not UTF-8
    } catch (const std::exception&) {
        encoding = Encoding::Ansi;
        whole = LoadTextUpTo(source, encoding, ctx.ansiCodePage, kMemoryStreamLimit, text, &length);
    }
    if (whole) {
        ScanTextLines(TextView(text.data(), length), ctx.sink, ctx.stop);
        return;
    }
    // Too large to hold (or grown past the limit while it was read): the
    // encoding is settled by a first pass that only decodes, and the lines
    // come from a second one, so the findings are those of the whole text.
    Text().swap(text);
    if (encoding == Encoding::Utf8 && !DecodesAsUtf8(source, ctx.ansiCodePage, ctx.stop))
        encoding = Encoding::Ansi;
    if (ctx.stop.load(std::memory_order_relaxed)) return;
    ReadLines(source, encoding, ctx.ansiCodePage, true, ctx.sink, ctx.stop);
}

void ScanMemoryStream(const Text& path, ReadContext& ctx) {
    FileSource source(path);
    ScanMemoryStream(source, ctx);
}

void ScanPlainText(ByteSource& source, bool memoryStream, ReadContext& ctx) {
    if (memoryStream) {
        ScanMemoryStream(source, ctx);
        return;
    }
    try {
        ScanFileStream(source, Encoding::Utf8, ctx);
    } catch (const std::bad_alloc&) {
        throw;  // memory ran out: the file fails, it is not retried
    } catch (const std::exception&) {
        // Read again from the first line in ANSI: the findings of the lines
        // examined before the failure come a second time.
        ScanFileStream(source, Encoding::Ansi, ctx);
    }
}

}  // namespace corvexa
