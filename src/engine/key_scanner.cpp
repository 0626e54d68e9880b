#include "engine/key_scanner.h"

#include <algorithm>
#include <bit>

#include "engine/ascii_keys.h"

#ifdef CORVEXA_DETECT_SSE2
#include <immintrin.h>
#endif

namespace corvexa {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// Whether c is the given lower-case letter in either case.
inline bool IsLetter(char16_t c, char lower) {
    return (c | 0x20) == static_cast<char16_t>(lower);
}

#ifdef CORVEXA_DETECT_SSE2
// The AVX2 form of KeyScanner's blocks: sixteen positions at a time, each with
// three code units before it and two after. Scans from i (>= 3) while a whole
// block fits; sets *key to the first key found, or leaves it and returns the
// position where the caller goes on.
__attribute__((target("avx2"))) std::size_t ScanKeysAvx2(const char16_t* p, std::size_t i,
                                                         std::size_t n, unsigned kinds,
                                                         std::size_t* key) {
    const __m256i on = _mm256_set1_epi16(-1), off = _mm256_setzero_si256();
    const __m256i wwwOn = kinds & kKeyWww ? on : off;
    const __m256i schemeOn = kinds & kKeyScheme ? on : off;
    const __m256i atOn = kinds & kKeyAt ? on : off;
    const __m256i dot = _mm256_set1_epi16(u'.'), colon = _mm256_set1_epi16(u':');
    const __m256i at = _mm256_set1_epi16(u'@'), slash = _mm256_set1_epi16(u'/');
    const __m256i lower = _mm256_set1_epi16(0x20), w = _mm256_set1_epi16(u'w');
// Lambdas do not take the function's target, so plain macros it is.
#define CORVEXA_LOAD(k) _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + (k)))
#define CORVEXA_IS_W(k) _mm256_cmpeq_epi16(_mm256_or_si256(CORVEXA_LOAD(k), lower), w)
    for (; i + 18 <= n; i += 16) {
        const __m256i v = CORVEXA_LOAD(i);
        // Full stops and colons are common; a "w." or ":/" is not, so test for
        // those before anything else.
        __m256i www = _mm256_and_si256(
            _mm256_and_si256(_mm256_cmpeq_epi16(v, dot), CORVEXA_IS_W(i - 1)), wwwOn);
        __m256i scheme =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi16(v, colon),
                                              _mm256_cmpeq_epi16(CORVEXA_LOAD(i + 1), slash)),
                             schemeOn);
        const __m256i ats = _mm256_and_si256(_mm256_cmpeq_epi16(v, at), atOn);
        const __m256i any = _mm256_or_si256(_mm256_or_si256(www, scheme), ats);
        if (_mm256_testz_si256(any, any)) continue;
        www = _mm256_and_si256(www, _mm256_and_si256(CORVEXA_IS_W(i - 2), CORVEXA_IS_W(i - 3)));
        scheme = _mm256_and_si256(scheme, _mm256_cmpeq_epi16(CORVEXA_LOAD(i + 2), slash));
        const unsigned m = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(www, scheme), ats)));
        if (m) {
            *key = i + static_cast<std::size_t>(std::countr_zero(m)) / 2;
            return i;
        }
    }
#undef CORVEXA_IS_W
#undef CORVEXA_LOAD
    return i;
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");
#endif

inline bool IsKey(const char16_t* p, std::size_t i, std::size_t n, unsigned kinds) {
    switch (p[i]) {
        case u'.':
            return (kinds & kKeyWww) && i >= 3 && IsLetter(p[i - 1], 'w') &&
                   IsLetter(p[i - 2], 'w') && IsLetter(p[i - 3], 'w');
        case u':':
            return (kinds & kKeyScheme) && i + 2 < n && p[i + 1] == u'/' && p[i + 2] == u'/';
        case u'@':
            return (kinds & kKeyAt) != 0;
        default:
            return false;
    }
}

// The kind of key a key's code unit makes it.
inline unsigned KindOf(char16_t c) {
    return c == u'.' ? kKeyWww : c == u':' ? kKeyScheme : kKeyAt;
}

}  // namespace

std::size_t KeyScanner::Next(std::size_t i) const {
    const std::size_t n = n_;
#ifdef CORVEXA_DETECT_SSE2
    // Blocks of eight positions, each with three code units before it and
    // two after; the last block overlaps the one before.
    for (; i < 3 && i < n; ++i)
        if (IsKey(p_, i, n, kinds_)) return i;
    if (kHaveAvx2 && i >= 3) {
        std::size_t key = npos;
        i = ScanKeysAvx2(p_, i, n, kinds_, &key);
        if (key != npos) return key;
    }
    for (; i + 10 <= n; i += 8) {
        if (const unsigned m = Block(i))
            return i + static_cast<std::size_t>(std::countr_zero(m)) / 2;
    }
    if (n >= 13 && i < n - 2) {
        const std::size_t j = n - 10;  // j < i
        if (const unsigned m = Block(j) & (~0u << (2 * (i - j))))
            return j + static_cast<std::size_t>(std::countr_zero(m)) / 2;
        i = n - 2;
    }
#endif
    for (; i < n; ++i)
        if (IsKey(p_, i, n, kinds_)) return i;
    return npos;
}

std::size_t KeyList::Find(TextView line, unsigned kinds, std::size_t from, const char* bytes) {
    p_ = line.data();
    n_ = line.size();
    keys_.clear();
    if (keys_.capacity() < kHeld) keys_.reserve(kHeld);  // once: no allocation per line
    from_ = from;
    covered_ = n_;
    if (bytes) {
        for (std::size_t i = from; (i = NextAsciiKey(bytes, i, n_)) < n_; ++i) {
            if (!(KindOf(p_[i]) & kinds)) continue;
            if (keys_.size() == kHeld) {
                covered_ = i;
                break;
            }
            keys_.push_back(i);
        }
        return keys_.empty() ? npos : keys_.front();
    }
    const KeyScanner scanner(line, kinds);
    for (std::size_t i = from; (i = scanner.Next(i)) != npos; ++i) {
        if (keys_.size() == kHeld) {
            covered_ = i;  // the keys from here on are found again by scanning
            break;
        }
        keys_.push_back(i);
    }
    return keys_.empty() ? npos : keys_.front();
}

std::size_t KeyList::View::Next(std::size_t i) const {
    const KeyList& l = list_;
    if (i < l.from_ || i >= l.covered_) return i < l.n_ ? scanner_.Next(i) : npos;
    if (cursor_ > 0 && l.keys_[cursor_ - 1] >= i)
        cursor_ = static_cast<std::size_t>(std::lower_bound(l.keys_.begin(), l.keys_.end(), i) -
                                           l.keys_.begin());
    while (cursor_ < l.keys_.size() && l.keys_[cursor_] < i) ++cursor_;
    for (; cursor_ < l.keys_.size(); ++cursor_)
        if (KindOf(l.p_[l.keys_[cursor_]]) & kinds_) return l.keys_[cursor_];
    return l.covered_ < l.n_ ? scanner_.Next(l.covered_) : npos;
}

}  // namespace corvexa
