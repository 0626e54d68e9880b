#pragma once

// Detection's keys in UTF-16 text (see ascii_keys.h for the same in ASCII
// bytes), shared by the searches of one line.

#include <cstddef>
#include <vector>

#include "engine/text.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define CORVEXA_DETECT_SSE2 1
#include <emmintrin.h>
#endif

namespace corvexa {

// Key positions. Every match has one: a web match the '.' of "www." or the
// ':' of "http://" or "https://", an e-mail match its '@', an ftp match the ':'
// of "ftp://". The searches step from key to key, and a line without any key
// of an enabled search (most lines) costs one pass of the scanner below, which
// with SSE2 looks at eight code units at a time.

enum : unsigned {
    kKeyWww = 1,     // '.' after "www" (any case)
    kKeyScheme = 2,  // ':' before "//"
    kKeyAt = 4,      // '@'
};

// Finds the keys of some kinds in one line.
class KeyScanner {
public:
    KeyScanner(TextView line, unsigned kinds) : p_(line.data()), n_(line.size()), kinds_(kinds) {
#ifdef CORVEXA_DETECT_SSE2
        const __m128i on = _mm_set1_epi16(-1), off = _mm_setzero_si128();
        wwwOn_ = kinds & kKeyWww ? on : off;
        schemeOn_ = kinds & kKeyScheme ? on : off;
        atOn_ = kinds & kKeyAt ? on : off;
#endif
    }

    // The first key at or after `from`; npos when there is none.
    std::size_t Next(std::size_t i) const;

private:
#ifdef CORVEXA_DETECT_SSE2
    __m128i Load(std::size_t k) const {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + k));
    }
    __m128i IsW(std::size_t k) const {
        return _mm_cmpeq_epi16(_mm_or_si128(Load(k), _mm_set1_epi16(0x20)), _mm_set1_epi16(u'w'));
    }
    // Bit 2k is set when position i + k is a key.
    unsigned Block(std::size_t i) const {
        const __m128i v = Load(i);
        __m128i www = _mm_and_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u'.')), wwwOn_);
        __m128i scheme = _mm_and_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u':')), schemeOn_);
        const __m128i at = _mm_and_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u'@')), atOn_);
        // Most blocks hold none of the three characters.
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(www, scheme), at)) == 0) return 0;
        www = _mm_and_si128(_mm_and_si128(www, IsW(i - 1)), _mm_and_si128(IsW(i - 2), IsW(i - 3)));
        const __m128i slash = _mm_set1_epi16(u'/');
        scheme = _mm_and_si128(scheme, _mm_and_si128(_mm_cmpeq_epi16(Load(i + 1), slash),
                                                     _mm_cmpeq_epi16(Load(i + 2), slash)));
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(www, scheme), at)));
    }

    __m128i wwwOn_, schemeOn_, atOn_;
#endif
    const char16_t* p_;
    std::size_t n_;
    unsigned kinds_;
};

// The keys of one line, found in one pass and kept, so that the searches step
// through them instead of each scanning the line again. At most kHeld keys are
// kept (memory stays bounded on any line); past the last kept one, a search
// scans the rest of the line as it would have without the list.
class KeyList {
public:
    static constexpr std::size_t kHeld = 4096;

    // Finds the keys of `kinds` in line from `from` on; returns the first, npos
    // when there is none. The line must outlive the searches. With `bytes`
    // (the line as LineSink::lineBytes has it) they are found there, in half
    // the memory.
    std::size_t Find(TextView line, unsigned kinds, std::size_t from, const char* bytes = nullptr);

    // The kept keys of some of the list's kinds, as KeyScanner finds them.
    class View {
    public:
        View(const KeyList& list, unsigned kinds)
            : list_(list), scanner_(TextView(list.p_, list.n_), kinds), kinds_(kinds) {}
        // The first key at or after i; npos when there is none.
        std::size_t Next(std::size_t i) const;

    private:
        const KeyList& list_;
        KeyScanner scanner_;
        unsigned kinds_;
        mutable std::size_t cursor_ = 0;  // first kept key not yet passed
    };

private:
    const char16_t* p_ = nullptr;
    std::size_t n_ = 0;
    std::vector<std::size_t> keys_;  // every key in [from_, covered_)
    std::size_t from_ = 0, covered_ = 0;
};

}  // namespace corvexa
