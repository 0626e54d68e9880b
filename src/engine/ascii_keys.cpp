#include "engine/ascii_keys.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <bit>

namespace corvexa {

namespace {

inline bool IsW(char c) {
    return (c | 0x20) == 'w';
}

// Whether position i of p[0, n) is a key.
inline bool IsKey(const char* p, std::size_t i, std::size_t n) {
    switch (p[i]) {
        case '.':
            return i >= 3 && IsW(p[i - 1]) && IsW(p[i - 2]) && IsW(p[i - 3]);
        case ':':
            return i + 2 < n && p[i + 1] == '/' && p[i + 2] == '/';
        case '@':
            return true;
        default:
            return false;
    }
}

// Thirty-two positions at a time, each with three bytes before it and two
// after; from i (>= 3) while a whole block fits. Returns the first key, or
// sets *stopped to where the caller goes on and returns n.
__attribute__((target("avx2"))) std::size_t ScanAvx2(const char* p, std::size_t i, std::size_t n,
                                                     std::size_t* stopped) {
    const __m256i dot = _mm256_set1_epi8('.'), colon = _mm256_set1_epi8(':');
    const __m256i at = _mm256_set1_epi8('@'), slash = _mm256_set1_epi8('/');
    const __m256i lower = _mm256_set1_epi8(0x20), w = _mm256_set1_epi8('w');
#define CORVEXA_LOAD(k) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + (k)))
#define CORVEXA_IS_W(k) _mm256_cmpeq_epi8(_mm256_or_si256(CORVEXA_LOAD(k), lower), w)
    for (; i + 34 <= n; i += 32) {
        const __m256i v = CORVEXA_LOAD(i);
        // Full stops and colons are common; a "w." or ":/" is not.
        __m256i www = _mm256_and_si256(_mm256_cmpeq_epi8(v, dot), CORVEXA_IS_W(i - 1));
        __m256i scheme = _mm256_and_si256(_mm256_cmpeq_epi8(v, colon),
                                          _mm256_cmpeq_epi8(CORVEXA_LOAD(i + 1), slash));
        const __m256i ats = _mm256_cmpeq_epi8(v, at);
        const __m256i any = _mm256_or_si256(_mm256_or_si256(www, scheme), ats);
        if (_mm256_testz_si256(any, any)) continue;
        www = _mm256_and_si256(www, _mm256_and_si256(CORVEXA_IS_W(i - 2), CORVEXA_IS_W(i - 3)));
        scheme = _mm256_and_si256(scheme, _mm256_cmpeq_epi8(CORVEXA_LOAD(i + 2), slash));
        const auto m = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(www, scheme), ats)));
        if (m) return i + static_cast<std::size_t>(std::countr_zero(m));
    }
#undef CORVEXA_IS_W
#undef CORVEXA_LOAD
    *stopped = i;
    return n;
}

// The same sixteen positions at a time with SSE2.
std::size_t ScanSse2(const char* p, std::size_t i, std::size_t n, std::size_t* stopped) {
    const __m128i dot = _mm_set1_epi8('.'), colon = _mm_set1_epi8(':');
    const __m128i at = _mm_set1_epi8('@'), slash = _mm_set1_epi8('/');
    const __m128i lower = _mm_set1_epi8(0x20), w = _mm_set1_epi8('w');
    auto load = [p](std::size_t k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    };
    auto isW = [&](std::size_t k) { return _mm_cmpeq_epi8(_mm_or_si128(load(k), lower), w); };
    for (; i + 18 <= n; i += 16) {
        const __m128i v = load(i);
        __m128i www = _mm_and_si128(_mm_cmpeq_epi8(v, dot), isW(i - 1));
        __m128i scheme =
            _mm_and_si128(_mm_cmpeq_epi8(v, colon), _mm_cmpeq_epi8(load(i + 1), slash));
        const __m128i ats = _mm_cmpeq_epi8(v, at);
        if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(www, scheme), ats))) continue;
        www = _mm_and_si128(www, _mm_and_si128(isW(i - 2), isW(i - 3)));
        scheme = _mm_and_si128(scheme, _mm_cmpeq_epi8(load(i + 2), slash));
        const auto m =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(www, scheme), ats)));
        if (m) return i + static_cast<std::size_t>(std::countr_zero(m));
    }
    *stopped = i;
    return n;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

}  // namespace

std::size_t NextAsciiKey(const char* p, std::size_t i, std::size_t n) {
    for (; i < 3 && i < n; ++i)
        if (IsKey(p, i, n)) return i;
    if (i >= 3) {
        if (kHaveAvx2)
            if (const std::size_t key = ScanAvx2(p, i, n, &i); key < n) return key;
        if (const std::size_t key = ScanSse2(p, i, n, &i); key < n) return key;
    }
    for (; i < n; ++i)
        if (IsKey(p, i, n)) return i;
    return n;
}

}  // namespace corvexa
