// LineCutter on text that is all ASCII, held as bytes: most of a file's lines
// hold no key, and these are passed over without ever being widened to UTF-16.
// Other text is looked at through an image of it as bytes, one a unit, which
// is half the size to scan.
#include <emmintrin.h>
#include <immintrin.h>

#include <bit>
#include <cstdint>
#include <string>

#include "engine/readers/text_reader.h"

namespace corvexa {

namespace {

// The position of the first CR or LF at or after i; n when there is none.
std::size_t FindBreak(const char* p, std::size_t i, std::size_t n) {
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        if (m) return i + static_cast<std::size_t>(std::countr_zero(m));
    }
    for (; i < n; ++i)
        if (p[i] == '\n' || p[i] == '\r') return i;
    return n;
}

// The position of the last CR or LF in [from, to); npos when there is none.
std::size_t FindLastBreak(const char* p, std::size_t from, std::size_t to) {
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (; to - from >= 16; to -= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + to - 16));
        const auto m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
        if (m) return to - 16 + static_cast<std::size_t>(31 - std::countl_zero(m));
    }
    while (to > from) {
        --to;
        if (p[to] == '\n' || p[to] == '\r') return to;
    }
    return TextView::npos;
}

// The line breaks in blocks of 32 bytes from i while a byte after the block
// remains (a CR LF counts once, as its LF); i is left where it stopped.
__attribute__((target("avx2"))) std::uint64_t CountBreaksAvx2(const char* p, std::size_t& i,
                                                              std::size_t to) {
    const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
    const __m256i zero = _mm256_setzero_si256();
    std::uint64_t count = 0;
    while (i + 33 <= to) {
        // Each lane counts up by one a break, at most 255 times: no overflow.
        __m256i lanes = zero;
        for (int round = 0; round < 255 && i + 33 <= to; ++round, i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
            const __m256i lone =
                _mm256_andnot_si256(_mm256_cmpeq_epi8(next, lf), _mm256_cmpeq_epi8(v, cr));
            lanes = _mm256_sub_epi8(lanes, _mm256_or_si256(_mm256_cmpeq_epi8(v, lf), lone));
        }
        alignas(32) std::uint64_t sums[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(sums), _mm256_sad_epu8(lanes, zero));
        count += sums[0] + sums[1] + sums[2] + sums[3];
    }
    return count;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

std::uint64_t CountBreaks(const char* p, std::size_t from, std::size_t to) {
    std::size_t i = from;
    std::uint64_t count = kHaveAvx2 ? CountBreaksAvx2(p, i, to) : 0;
    for (; i < to; ++i)
        if (p[i] == '\n' || (p[i] == '\r' && !(i + 1 < to && p[i + 1] == '\n'))) ++count;
    return count;
}

// The ASCII bytes p[0, n) as UTF-16, in the thread's scratch text (written
// over by the next call).
const char16_t* Widen(const char* p, std::size_t n) {
    static thread_local Text scratch;
    if (scratch.size() < n) scratch.resize(n);
    char16_t* o = scratch.data();
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    for (; i < n; ++i) o[i] = static_cast<char16_t>(p[i]);
    return scratch.data();
}

// The units of text as bytes: ASCII as it stands, any other unit as a byte
// that is neither a key's nor a line break's (0x80 to 0xFF, or 0).
std::string_view Narrow(TextView text) {
    static thread_local std::string image;
    const std::size_t n = text.size();
    if (image.size() < n) image.resize(n);
    const char16_t* p = text.data();
    char* o = image.data();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(a, b));
    }
    for (; i < n; ++i) o[i] = static_cast<char>(p[i] < 0x80 ? p[i] : 0x80);
    return {image.data(), n};
}

}  // namespace

bool LineCutter::FeedNarrowed(TextView text, LineSink& sink, const std::atomic<bool>& stop,
                              bool last) {
    const std::string_view image = Narrow(text);
    units_ = text.data();
    const bool ok = FeedAsciiLines(image.data(), image.size(), sink, stop, last);
    units_ = nullptr;
    if (ok) return true;
    Abandon(sink);
    return false;
}

const char16_t* LineCutter::TextOf(const char* p, std::size_t start, std::size_t size) const {
    return units_ ? units_ + start : Widen(p + start, size);
}

bool LineCutter::FeedAscii(std::string_view bytes, LineSink& sink, const std::atomic<bool>& stop,
                           bool last) {
    if (FeedAsciiLines(bytes.data(), bytes.size(), sink, stop, last)) return true;
    Abandon(sink);
    return false;
}

bool LineCutter::HandAscii(const char* p, std::size_t start, std::size_t end, LineSink& sink,
                           const std::atomic<bool>& stop) {
    return HandLine(TextOf(p, start, end - start), 0, end - start, true, sink, stop, p + start);
}

bool LineCutter::KeepAscii(const char* p, std::size_t start, std::size_t n, LineSink& sink,
                           const std::atomic<bool>& stop) {
    const char16_t* text = TextOf(p, start, n - start);
    std::size_t pos = 0;
    if (!HandParts(text, pos, n - start, sink, stop)) return false;
    pending_.append(text + pos, n - start - pos);
    return TrimPending(sink, stop);
}

// FeedLines step for step, on bytes.
bool LineCutter::FeedAsciiLines(const char* p, std::size_t n, LineSink& sink,
                                const std::atomic<bool>& stop, bool last) {
    if (stop.load(std::memory_order_relaxed)) return false;
    const bool numbering = sink.numberLines;
    std::size_t start = 0;
    if (skipLf_ && n > 0) {
        if (p[0] == '\n') start = 1;
        skipLf_ = false;
    }
    auto after = [&](std::size_t b) {
        if (p[b] == '\r') {
            if (b + 1 < n) {
                if (p[b + 1] == '\n') ++b;
            } else {
                skipLf_ = true;
            }
        }
        return b + 1;
    };

    if (!pending_.empty() || inParts_) {
        const std::size_t b = FindBreak(p, start, n);
        const char16_t* text = TextOf(p, start, b - start);
        pending_.append(text, b - start);
        if (b == n) return last ? HandOver(sink, stop) : TrimPending(sink, stop);
        if (!HandOver(sink, stop)) return false;
        start = after(b);
        if (numbering) ++breaks_;
    }

    while (start < n) {
        const std::size_t key = sink.NextKeyAscii(p, start, n);
        if (key >= n) {
            const std::size_t lastBreak = FindLastBreak(p, start, n);
            if (lastBreak != TextView::npos) {
                if (numbering) breaks_ += CountBreaks(p, start, lastBreak + 1);
                start = after(lastBreak);
            }
            if (last) return true;
            break;
        }
        if (std::size_t lb = FindLastBreak(p, start, key); lb != TextView::npos) {
            if (numbering) breaks_ += CountBreaks(p, start, lb + 1);
            start = lb + 1;
        }
        const std::size_t b = FindBreak(p, key, n);
        if (b == n) {
            if (last) return HandAscii(p, start, n, sink, stop);
            break;
        }
        if (!HandAscii(p, start, b, sink, stop)) return false;
        start = after(b);
        if (numbering) ++breaks_;
    }
    return start < n ? KeepAscii(p, start, n, sink, stop) : true;
}

}  // namespace corvexa
