#include "results/dedup.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "platform/ascii.h"

namespace corvexa::results {

namespace {

// ICU names the collation of the C and POSIX locales "en_US_POSIX"; it orders by
// code unit and separates upper from lower case, which is not what a user sees
// anywhere else. Those locales get the root collation instead.
std::string CollationLocale(const std::string& requested) {
    std::string id = requested.empty() ? std::string(uloc_getDefault()) : requested;
    std::string lower = id;
    ascii::LowerInPlace(lower);
    if (lower.empty() || lower == "c" || lower == "posix" || lower.starts_with("c.") ||
        lower.starts_with("c_") || lower.starts_with("posix.") || lower == "root")
        return "";
    char variant[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getVariant(id.c_str(), variant, sizeof variant, &status);
    if (U_SUCCESS(status) && std::string_view(variant) == "POSIX") return "";
    return id;
}

[[noreturn]] void CollationFailed(const std::string& id, UErrorCode status) {
    throw std::runtime_error("cannot open the collation for locale \"" + id +
                             "\": " + u_errorName(status));
}

// The order of plain ASCII punctuation and symbols in the word sort users see
// elsewhere (file lists, sorted list boxes): the ASCII order, except that
// + < = > follow ~; hyphen and apostrophe are left out, as they only break
// ties. ICU's own order groups them by kind instead (":" before "." before
// "/", "$" last), which would sort "http://a.com:8080/" before "http://a.com/".
std::u16string AsciiSymbolRules() {
    static constexpr char kOrder[] = " !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";
    std::u16string rules = u"&";
    for (const char* c = kOrder; *c != 0; ++c) {
        if (c != kOrder) rules += u'<';
        // Quoted, each stands for itself (the list holds no apostrophe).
        rules += u'\'';
        rules += static_cast<char16_t>(*c);
        rules += u'\'';
    }
    return rules;
}

// The locale's collation with the ASCII symbol order above added to its own
// rules, at secondary strength: letter case is ignored, accents are not.
UCollator* OpenCollator(const std::string& id) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* locale = ucol_open(id.c_str(), &status);
    if (U_FAILURE(status) || !locale) {
        if (locale) ucol_close(locale);
        CollationFailed(id, status);
    }
    int32_t length = 0;
    const UChar* own = ucol_getRules(locale, &length);
    std::u16string rules(reinterpret_cast<const char16_t*>(own), static_cast<std::size_t>(length));
    ucol_close(locale);
    rules += AsciiSymbolRules();
    UParseError parseError{};
    status = U_ZERO_ERROR;
    UCollator* collator = ucol_openRules(reinterpret_cast<const UChar*>(rules.data()),
                                         static_cast<int32_t>(rules.size()), UCOL_DEFAULT,
                                         UCOL_SECONDARY, &parseError, &status);
    if (U_FAILURE(status) || !collator) {
        if (collator) ucol_close(collator);
        CollationFailed(id, status);
    }
    ucol_setStrength(collator, UCOL_SECONDARY);
    // Punctuation and spaces always count, also where the locale's own rules
    // would pass over them (Thai): "a.b" and "a/b" are different entries.
    status = U_ZERO_ERROR;
    ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    if (U_FAILURE(status)) {
        ucol_close(collator);
        CollationFailed(id, status);
    }
    return collator;
}

// A copy of a collator for another thread (building one from its rules again
// costs far more for the large tailorings of some locales).
UCollator* CloneCollator(const UCollator* original) {
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_clone(original, &status);
    if (U_FAILURE(status) || !collator) {
        if (collator) ucol_close(collator);
        throw std::runtime_error(std::string("cannot copy a collation: ") + u_errorName(status));
    }
    return collator;
}

bool IsTieBreakOnly(char16_t c) {
    return c == u'-' || c == u'\'';
}

// Makes the keys that Remove Duplicates sorts by. A collator is not shared
// between threads: each thread has its own KeyMaker.
//
// The full key of a text has two parts: the ICU sort key of the text without
// hyphens and apostrophes, then the ICU sort key of the whole text as the
// tie-breaker. So "co-op" sorts beside "coop" but is not equal to it. ICU keys
// hold no 0 byte except their terminator, so comparing the concatenation byte
// by byte compares the first parts first, and a text whose first part is a
// prefix of another's sorts first, as ICU itself orders them.
class KeyMaker {
public:
    explicit KeyMaker(const std::string& id) : collator_(OpenCollator(id)) {}
    // The same keys as model's, for use on another thread.
    struct CopyOf {
        const KeyMaker& model;
    };
    explicit KeyMaker(CopyOf copy) : collator_(CloneCollator(copy.model.collator_)) {}
    ~KeyMaker() { ucol_close(collator_); }
    KeyMaker(const KeyMaker&) = delete;
    KeyMaker& operator=(const KeyMaker&) = delete;

    static bool HasTieBreakChars(TextView text) {
        return std::any_of(text.begin(), text.end(), IsTieBreakOnly);
    }

    // Appends the first part of the key to out and returns its length.
    std::uint32_t AppendFirstPart(TextView text, std::string& out) const {
        if (!HasTieBreakChars(text)) return AppendIcuKey(text, out);
        stripped_.clear();
        for (char16_t c : text) {
            if (!IsTieBreakOnly(c)) stripped_.push_back(c);
        }
        return AppendIcuKey(stripped_, out);
    }

    // Appends the second part of the key to out and returns its length. It
    // equals the first part for a text without hyphens and apostrophes.
    std::uint32_t AppendSecondPart(TextView text, std::string& out) const {
        return AppendIcuKey(text, out);
    }

    std::string FullKey(TextView text) const {
        std::string key;
        AppendFirstPart(text, key);
        AppendSecondPart(text, key);
        return key;
    }

private:
    // Appends the ICU sort key of text, its terminating 0 included.
    std::uint32_t AppendIcuKey(TextView text, std::string& out) const {
        if (text.size() > INT32_MAX / 4) throw std::length_error("text too long to collate");
        std::size_t start = out.size();
        std::size_t room = text.size() * 2 + 16;
        for (;;) {
            out.resize(start + room);
            auto needed = static_cast<std::size_t>(ucol_getSortKey(
                collator_, reinterpret_cast<const UChar*>(text.data()),
                static_cast<int32_t>(text.size()), reinterpret_cast<uint8_t*>(out.data() + start),
                static_cast<int32_t>(room)));
            if (needed == 0) throw std::runtime_error("collation sort key failed");
            if (needed <= room) {
                out.resize(start + needed);
                return static_cast<std::uint32_t>(needed);
            }
            room = needed;
        }
    }

    UCollator* collator_;
    mutable Text stripped_;  // scratch space of AppendFirstPart
};

// The distinct texts of a list, each copied once, in the order of their first
// occurrence.
class DistinctTexts {
public:
    std::size_t Size() const { return firsts_.size(); }
    TextView At(std::size_t d) const {
        std::size_t begin = Begin(d);
        return TextView(chars_.data() + begin, ends_[d] - begin);
    }
    // Where the text first occurs in the list.
    std::uint32_t FirstIndex(std::size_t d) const { return firsts_[d]; }

    // Collects the distinct texts of the entries that forEach(f) passes to f,
    // in order. forEach is called twice: first to hash every entry, then to
    // look each up with its table slot fetched a few entries ahead.
    template <class ForEachEntry>
    void Collect(ForEachEntry forEach) {
        std::vector<std::uint64_t> hashes;
        std::size_t chars = 0;
        forEach([&](TextView entry) {
            hashes.push_back(Hash(entry));
            chars += entry.size();
        });
        if (hashes.size() >= UINT32_MAX) throw std::length_error("list too long to sort");
        // Room for the case without repeats; pages that stay unused cost nothing.
        chars_.reserve(chars);
        ends_.reserve(hashes.size());
        firsts_.reserve(hashes.size());

        std::size_t capacity = 16;
        while (capacity < hashes.size() * 2) capacity *= 2;
        mask_ = capacity - 1;
        slots_.assign(capacity, Slot{0, kFree});

        std::size_t i = 0;
        forEach([&](TextView entry) {
            // Fetch the slot of a later entry, and the text of a still later
            // entry's first slot, whose slot is already here.
            constexpr std::size_t kAhead = 8;
            if (i + kAhead < hashes.size()) __builtin_prefetch(&slots_[hashes[i + kAhead] & mask_]);
            if (i + kAhead / 2 < hashes.size()) {
                const Slot& next = slots_[hashes[i + kAhead / 2] & mask_];
                if (next.distinct != kFree)
                    __builtin_prefetch(chars_.data() + Begin(next.distinct));
            }
            // A list may have grown between the two passes.
            Insert(entry, i < hashes.size() ? hashes[i] : Hash(entry), i);
            ++i;
        });
        std::vector<Slot>().swap(slots_);
    }

private:
    static constexpr std::uint32_t kFree = UINT32_MAX;
    struct Slot {
        std::uint32_t tag;
        std::uint32_t distinct;  // kFree when the slot is free
    };

    std::size_t Begin(std::size_t d) const { return d == 0 ? 0 : ends_[d - 1]; }

    static std::uint64_t Hash(TextView t) {
        std::uint64_t h = 0xcbf29ce484222325ull ^ (t.size() * 0x9E3779B97F4A7C15ull);
        const char16_t* p = t.data();
        std::size_t n = t.size();
        for (; n >= 4; n -= 4, p += 4) {
            std::uint64_t w;
            std::memcpy(&w, p, sizeof w);
            h = (h ^ w) * 0x100000001b3ull;
            h ^= h >> 28;
        }
        for (; n > 0; --n, ++p) h = (h ^ *p) * 0x100000001b3ull;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdull;
        h ^= h >> 33;
        return h;
    }

    void Insert(TextView entry, std::uint64_t hash, std::size_t index) {
        if ((firsts_.size() + 1) * 2 > slots_.size()) Grow();
        auto tag = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t s = hash & mask_;; s = (s + 1) & mask_) {
            Slot& slot = slots_[s];
            if (slot.distinct == kFree) {
                slot = Slot{tag, static_cast<std::uint32_t>(firsts_.size())};
                chars_.append(entry);
                ends_.push_back(chars_.size());
                firsts_.push_back(static_cast<std::uint32_t>(index));
                return;
            }
            if (slot.tag == tag && At(slot.distinct) == entry) return;
        }
    }

    // Only when the list grew between the passes.
    void Grow() {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(old.size() * 2, Slot{0, kFree});
        mask_ = slots_.size() - 1;
        for (std::size_t d = 0; d < firsts_.size(); ++d) {
            std::uint64_t hash = Hash(At(d));
            std::size_t s = hash & mask_;
            while (slots_[s].distinct != kFree) s = (s + 1) & mask_;
            slots_[s] = Slot{static_cast<std::uint32_t>(hash >> 32), static_cast<std::uint32_t>(d)};
        }
    }

    std::u16string chars_;
    std::vector<std::size_t> ends_;
    std::vector<std::uint32_t> firsts_;
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// A distinct text on its way through the sort.
struct Item {
    const char* key;         // the first part of its key
    std::uint32_t length;    // of the first part
    std::uint32_t distinct;  // its number in DistinctTexts, i.e. list order
};

int CompareBytes(const char* a, std::uint32_t la, const char* b, std::uint32_t lb) {
    // The terminating 0 makes keys differ within the shorter one unless they
    // are equal.
    int c = std::memcmp(a, b, std::min(la, lb));
    if (c != 0 || la == lb) return c;
    return la < lb ? -1 : 1;
}

bool FirstPartLess(const Item& a, const Item& b) {
    int c = CompareBytes(a.key, a.length, b.key, b.length);
    return c != 0 ? c < 0 : a.distinct < b.distinct;
}

// Below this many distinct texts one thread makes the keys and sorts.
constexpr std::size_t kParallelFrom = 20000;
std::atomic<std::size_t> g_parallelFrom{kParallelFrom};
std::atomic<unsigned> g_workers{0};

unsigned WorkerCount(std::size_t distinct) {
    if (distinct < g_parallelFrom.load(std::memory_order_relaxed)) return 1;
    if (unsigned w = g_workers.load(std::memory_order_relaxed)) return w;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

// Runs body(0) .. body(n - 1), body(0) on this thread, and rethrows the first
// exception any of them threw.
template <class Body>
void RunParallel(unsigned n, Body body) {
    std::vector<std::exception_ptr> errors(n);
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < n; ++t) {
        threads.emplace_back([&, t] {
            try {
                body(t);
            } catch (...) {
                errors[t] = std::current_exception();
            }
        });
    }
    try {
        body(0);
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (std::thread& th : threads) th.join();
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
}

}  // namespace

struct DedupCollator::Impl {
    std::string locale;
    KeyMaker keys;

    explicit Impl(const std::string& id) : locale(id), keys(id) {}
};

struct DedupAccess {
    static const std::string& Locale(const DedupCollator& c) { return c.impl_->locale; }
    static const KeyMaker& Keys(const DedupCollator& c) { return c.impl_->keys; }
};

DedupCollator::DedupCollator(const std::string& locale)
    : impl_(std::make_unique<Impl>(CollationLocale(locale))) {}

DedupCollator::~DedupCollator() = default;

std::string DedupCollator::SortKey(TextView text) const {
    return impl_->keys.FullKey(text);
}

int DedupCollator::Compare(TextView a, TextView b) const {
    int c = SortKey(a).compare(SortKey(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

namespace {

// The distinct texts to keep, in ascending order; of texts that compare equal
// the first in list order.
std::vector<std::uint32_t> UniqueOrder(const DistinctTexts& texts, const DedupCollator& collator) {
    const KeyMaker& ownKeys = DedupAccess::Keys(collator);

    // 1. The first parts of the keys, made and sorted in contiguous shares by
    //    up to a few threads; each share keeps its keys in its own buffer.
    unsigned workers = WorkerCount(texts.Size());
    std::vector<std::string> buffers(workers);
    std::vector<std::vector<Item>> shares(workers);
    RunParallel(workers, [&](unsigned w) {
        std::size_t begin = texts.Size() * w / workers;
        std::size_t end = texts.Size() * (w + 1) / workers;
        std::unique_ptr<KeyMaker> own;
        if (w != 0) own = std::make_unique<KeyMaker>(KeyMaker::CopyOf{ownKeys});
        const KeyMaker& keys = w == 0 ? ownKeys : *own;

        std::string& buffer = buffers[w];
        std::size_t chars = 0;
        for (std::size_t d = begin; d < end; ++d) chars += texts.At(d).size();
        buffer.reserve(chars + (end - begin) * 8);
        std::vector<Item>& items = shares[w];
        items.reserve(end - begin);
        std::vector<std::size_t> offsets;
        offsets.reserve(end - begin);
        for (std::size_t d = begin; d < end; ++d) {
            offsets.push_back(buffer.size());
            std::uint32_t length = keys.AppendFirstPart(texts.At(d), buffer);
            items.push_back(Item{nullptr, length, static_cast<std::uint32_t>(d)});
        }
        // The buffer is complete: pointers into it stay valid.
        for (std::size_t k = 0; k < items.size(); ++k) items[k].key = buffer.data() + offsets[k];
        std::sort(items.begin(), items.end(), FirstPartLess);
    });

    std::vector<Item> items = std::move(shares[0]);
    for (unsigned w = 1; w < workers; ++w) {
        std::vector<Item> merged;
        merged.reserve(items.size() + shares[w].size());
        std::merge(items.begin(), items.end(), shares[w].begin(), shares[w].end(),
                   std::back_inserter(merged), FirstPartLess);
        items = std::move(merged);
        std::vector<Item>().swap(shares[w]);
    }

    // 2. Runs of equal first parts are rare (letter case, hyphens,
    //    apostrophes): only there the second parts are made, to order the run
    //    and to tell which of its texts are equal. The run is in list order.
    std::vector<std::uint32_t> keep;
    keep.reserve(items.size());
    std::string secondKeys;
    for (std::size_t begin = 0; begin < items.size();) {
        if (begin + 8 < items.size()) __builtin_prefetch(items[begin + 8].key);
        std::size_t end = begin + 1;
        while (end < items.size() && CompareBytes(items[begin].key, items[begin].length,
                                                  items[end].key, items[end].length) == 0)
            ++end;
        bool tieBreaks = false;
        for (std::size_t k = begin; k < end && end - begin > 1; ++k)
            tieBreaks = tieBreaks || KeyMaker::HasTieBreakChars(texts.At(items[k].distinct));
        if (!tieBreaks) {
            keep.push_back(items[begin].distinct);  // all equal: the first stays
        } else {
            struct Tie {
                std::size_t offset;
                std::uint32_t length;
                std::uint32_t distinct;
            };
            std::vector<Tie> run;
            secondKeys.clear();
            for (std::size_t k = begin; k < end; ++k) {
                std::size_t offset = secondKeys.size();
                std::uint32_t length =
                    ownKeys.AppendSecondPart(texts.At(items[k].distinct), secondKeys);
                run.push_back(Tie{offset, length, items[k].distinct});
            }
            auto compare = [&](const Tie& a, const Tie& b) {
                return CompareBytes(secondKeys.data() + a.offset, a.length,
                                    secondKeys.data() + b.offset, b.length);
            };
            std::stable_sort(run.begin(), run.end(),
                             [&](const Tie& a, const Tie& b) { return compare(a, b) < 0; });
            for (std::size_t k = 0; k < run.size(); ++k) {
                if (k == 0 || compare(run[k], run[k - 1]) != 0) keep.push_back(run[k].distinct);
            }
        }
        begin = end;
    }
    return keep;
}

// Copies the kept texts in their new order, fetching each a few ahead.
std::vector<Text> KeptTexts(const DistinctTexts& texts, const std::vector<std::uint32_t>& keep) {
    std::vector<Text> out;
    out.reserve(keep.size());
    for (std::size_t k = 0; k < keep.size(); ++k) {
        if (k + 8 < keep.size()) __builtin_prefetch(texts.At(keep[k + 8]).data());
        out.emplace_back(texts.At(keep[k]));
    }
    return out;
}

}  // namespace

std::vector<Text> SortedUnique(const std::vector<Text>& entries, const DedupCollator& collator) {
    DistinctTexts texts;
    texts.Collect([&](const auto& f) {
        for (const Text& entry : entries) f(entry);
    });
    return KeptTexts(texts, UniqueOrder(texts, collator));
}

void SetParallelDedupForTesting(std::size_t fromDistinct, unsigned workers) {
    g_parallelFrom.store(fromDistinct == 0 ? kParallelFrom : fromDistinct);
    g_workers.store(workers);
}

void RemoveDuplicates(SharedList& list, const DedupCollator& collator) {
    DistinctTexts texts;
    texts.Collect([&](const auto& f) { list.ForEachBatched(f); });
    list.Assign(KeptTexts(texts, UniqueOrder(texts, collator)));
}

}  // namespace corvexa::results
