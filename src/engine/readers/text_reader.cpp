#include "engine/readers/text_reader.h"

#include <emmintrin.h>
#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace corvexa {

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

// CountBreaks over blocks of N units (one vector of Units), from i while a
// unit after the block remains; i is left where it stopped. Written once for
// every vector width: the compiler lowers it to the instructions of the
// function it is inlined into.
typedef std::int16_t Units8 __attribute__((vector_size(16)));
typedef std::int16_t Units16 __attribute__((vector_size(32)));

template <class Units>
[[gnu::always_inline]] inline std::uint64_t CountBreakBlocks(const char16_t* p, std::size_t& i,
                                                             std::size_t to) {
    constexpr int N = sizeof(Units) / 2;
    const std::size_t step = static_cast<std::size_t>(N);
    const Units lf = Units{} + std::int16_t{'\n'};
    const Units cr = Units{} + std::int16_t{'\r'};
    std::uint64_t count = 0;
    while (i + step + 1 <= to) {
        // Each lane counts down by one a break, at most 8192 times: no overflow.
        Units lanes{};
        for (int round = 0; round < 8192 && i + step + 1 <= to; ++round, i += step) {
            Units v, next;
            std::memcpy(&v, p + i, sizeof v);
            std::memcpy(&next, p + i + 1, sizeof next);
            Units isCr = v == cr;
            lanes += (v == lf) | (isCr & ~(next == lf));
        }
        for (int k = 0; k < N; ++k) count += static_cast<std::uint16_t>(-lanes[k]);
    }
    return count;
}

__attribute__((target("avx2"))) std::uint64_t CountBreaksAvx2(const char16_t* p, std::size_t& i,
                                                              std::size_t to) {
    return CountBreakBlocks<Units16>(p, i, to);
}

const bool kCountWithAvx2 = __builtin_cpu_supports("avx2");

// The line breaks in [from, to), a CR LF counting once (as its LF).
std::uint64_t CountBreaks(const char16_t* p, std::size_t from, std::size_t to) {
    std::size_t i = from;
    std::uint64_t count = kCountWithAvx2 ? CountBreaksAvx2(p, i, to) : 0;
    count += CountBreakBlocks<Units8>(p, i, to);
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
                          LineSink& sink, const std::atomic<bool>& stop, const char* bytes) {
    if (!HandParts(p, start, end, sink, stop)) return false;
    if (stop.load(std::memory_order_relaxed)) return false;
    if (wanted || inParts_ || sink.NextKey(p, start, end) < end) {
        if (sink.numberLines) sink.lineNumber = breaks_ + 1;
        sink.lineBytes = bytes ? bytes + start : nullptr;
        sink.Line(TextView(p + start, end - start));
        sink.lineBytes = nullptr;
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

    // Starts a reading attempt at the first byte and returns the size the
    // source announces. When an earlier attempt fetched the whole file in its
    // first chunk, the chunk is handed out again instead of reading anew.
    std::uint64_t Start() {
        if (fetches_ == 1 && end_) {
            pos_ = 0;
            return have_;
        }
        have_ = pos_ = fetches_ = 0;
        end_ = false;
        return source_.Open();
    }

    std::size_t Next(const char** data) {
        if (pos_ == have_ && !end_) {
            have_ = source_.Read(chunk_, sizeof chunk_);
            ++fetches_;
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
    std::size_t have_ = 0, pos_ = 0, fetches_ = 0;
    bool end_ = false;
};

// Reads a file through the buffer: onOpen(size in bytes) first, then
// onPiece(decoder, bytes, count, last) for each buffer, which returns false to
// stop. Returns false when stopped. With replaceAfterMark (the scan's readers)
// text after a UTF-8 mark never fails to decode; LoadText and LoadLines (file
// lists, tables) stay strict, so a damaged list is refused, not half read.
template <class OnOpen, class OnPiece>
bool DecodeFile(Buffers& buffers, Encoding requested, int ansiCodePage, bool replaceAfterMark,
                OnOpen&& onOpen, OnPiece&& onPiece) {
    onOpen(buffers.Start());
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

template <class OnOpen, class OnPiece>
bool DecodeFile(ByteSource& source, Encoding requested, int ansiCodePage, bool replaceAfterMark,
                OnOpen&& onOpen, OnPiece&& onPiece) {
    Buffers buffers(source);
    return DecodeFile(buffers, requested, ansiCodePage, replaceAfterMark, onOpen, onPiece);
}

// Hands the lines of a piece of bytes to the cutter, decoded; or, when the
// sink finds its keys in ASCII and the piece is ASCII that the decoder would
// leave as it stands, as the bytes themselves (no decoder state changes).
// Returns false when stopped, or with *error set when the piece does not decode.
// `ascii`: the piece is known to be all ASCII.
bool FeedPiece(TextDecoder& decoder, LineCutter& cutter, Text& decoded, const char* data,
               std::size_t size, bool last, LineSink& sink, const std::atomic<bool>& stop,
               const char** error, bool ascii = false) {
    if (size && sink.KeysInAscii() && decoder.KeepsAscii() && (ascii || IsAscii(data, size)))
        return cutter.FeedAscii(std::string_view(data, size), sink, stop);
    const std::size_t end = decoder.TryDecodeInto(data, size, last, decoded, 0, error);
    if (*error) return false;
    if (sink.KeysInAscii()) return cutter.FeedNarrowed(TextView(decoded.data(), end), sink, stop);
    return cutter.Feed(TextView(decoded.data(), end), sink, stop);
}

// Decodes a file buffer by buffer and cuts it into lines as it goes. Text that
// does not decode ends the reading without an exception (a file in ANSI is
// common, and is read again): returns what is wrong with it, null when
// nothing is. The lines handed over before stay handed over.
const char* ReadLines(Buffers& buffers, Encoding requested, int ansiCodePage, bool replaceAfterMark,
                      LineSink& sink, const std::atomic<bool>& stop) {
    LineCutter cutter;
    // Written over from file to file, never zeroed again: no allocation per file.
    static thread_local Text decoded;
    const char* error = nullptr;
    try {
        if (DecodeFile(
                buffers, requested, ansiCodePage, replaceAfterMark, [](std::uint64_t) {},
                [&](TextDecoder& decoder, const char* data, std::size_t size, bool last) {
                    return FeedPiece(decoder, cutter, decoded, data, size, last, sink, stop,
                                     &error);
                }))
            cutter.Finish(sink, stop);
    } catch (...) {
        cutter.Abandon(sink);
        throw;
    }
    if (error) cutter.Abandon(sink);
    return error;
}

// ReadLines, throwing DecodeError on text that does not decode.
void ReadAllLines(ByteSource& source, Encoding requested, int ansiCodePage, bool replaceAfterMark,
                  LineSink& sink, const std::atomic<bool>& stop) {
    Buffers buffers(source);
    if (const char* error =
            ReadLines(buffers, requested, ansiCodePage, replaceAfterMark, sink, stop))
        throw DecodeError(error);
}

const std::atomic<bool> kNeverStop{false};

}  // namespace

void ScanFileStream(ByteSource& source, Encoding encoding, ReadContext& ctx) {
    ReadAllLines(source, encoding, ctx.ansiCodePage, true, ctx.sink, ctx.stop);
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
    ReadAllLines(source, encoding, ansiCodePage, false, lines, kNeverStop);
}

void LoadLines(const Text& path, Encoding encoding, int ansiCodePage, Lines& lines) {
    FileSource source(path);
    LoadLines(source, encoding, ansiCodePage, lines);
}

namespace {

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

// The largest file whose memory stays held between files on one thread.
constexpr std::size_t kKeptBytes = std::size_t{16} << 20;

// A file's bytes held whole. The memory is kept from file to file, so that a
// folder of small files does not allocate (and fault in) fresh memory for
// each one, and it is never zeroed: the bytes read are written over it.
class HeldBytes {
public:
    // Reads the source from its first byte, in pieces of the size the
    // file-stream reader fetches. False when it holds more than `limit` bytes.
    bool Load(ByteSource& source, std::size_t limit) {
        size_ = 0;
        const std::uint64_t announced = source.Open();
        if (announced > limit) return false;
        constexpr std::size_t kPiece = 16 * kReadBufferSize;
        // Room for the announced size and the read that finds the end.
        Reserve(static_cast<std::size_t>(announced) + kPiece);
        for (;;) {
            Reserve(size_ + kPiece);
            const std::size_t got = source.Read(data_.get() + size_, kPiece);
            size_ += got;
            if (size_ > limit) return false;
            if (got < kPiece) return true;
        }
    }
    std::string_view Bytes() const { return {data_.get(), size_}; }
    // Lets the memory go when it has grown past `keep` bytes.
    void Trim(std::size_t keep) {
        size_ = 0;
        if (capacity_ <= keep) return;
        data_.reset();
        capacity_ = 0;
    }

private:
    struct Free {
        void operator()(char* p) const { std::free(p); }
    };

    void Reserve(std::size_t want) {
        if (want <= capacity_) return;
        // Up to kKeptBytes the memory is taken once, at that size: only the
        // pages files touch are faulted in, once for the whole run, in huge
        // pages where the system gives them on request. Past it, a file grows
        // the memory as it needs.
        constexpr std::size_t kHugePage = std::size_t{2} << 20;
        std::size_t capacity = want <= kKeptBytes ? kKeptBytes : std::max(want, capacity_ * 2);
        capacity = (capacity + kHugePage - 1) / kHugePage * kHugePage;
        std::unique_ptr<char, Free> fresh(
            static_cast<char*>(std::aligned_alloc(kHugePage, capacity)));
        if (!fresh) throw std::bad_alloc();
        ::madvise(fresh.get(), capacity, MADV_HUGEPAGE);  // a hint: may be refused
        if (size_) std::memcpy(fresh.get(), data_.get(), size_);
        data_ = std::move(fresh);
        capacity_ = capacity;
    }

    std::unique_ptr<char, Free> data_;
    std::size_t capacity_ = 0, size_ = 0;
};

// Bytes decoded at a time from a held file: their text stays in the cache.
constexpr std::size_t kHeldPiece = 4 * kReadBufferSize;

// Hands over the lines of bytes held whole whose encoding is settled
// (`requested`, unless a mark selects another), decoding them a piece at a
// time; a line that spans pieces is joined as in the file-stream reader.
// `ascii`: every byte is known to be below 0x80.
void ScanHeldBytes(std::string_view bytes, Encoding requested, ReadContext& ctx, bool ascii) {
    static thread_local Text decoded;  // written over, never zeroed again
    std::size_t mark = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const Encoding encoding = EncodingFromMark(data, bytes.size(), requested, &mark);
    TextDecoder decoder(encoding, ctx.ansiCodePage, encoding == Encoding::Utf8 && mark == 3);
    bytes.remove_prefix(mark);
    LineCutter cutter;
    try {
        for (std::size_t pos = 0;;) {
            const std::size_t take = std::min(kHeldPiece, bytes.size() - pos);
            const bool last = pos + take == bytes.size();
            const char* error = nullptr;
            if (!FeedPiece(decoder, cutter, decoded, bytes.data() + pos, take, last, ctx.sink,
                           ctx.stop, &error, ascii)) {
                if (error) throw DecodeError(error);
                return;
            }
            pos += take;
            if (last) break;
        }
        cutter.Finish(ctx.sink, ctx.stop);
    } catch (...) {
        cutter.Abandon(ctx.sink);
        throw;
    }
}

// The encoding in which the memory-stream reader reads held bytes: UTF-8 when
// they decode in it (or carry a mark), else ANSI. *ascii tells whether the
// bytes, which carry no mark then, are all ASCII.
Encoding SettleEncoding(std::string_view bytes, bool* ascii) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t mark = 0;
    if (EncodingFromMark(data, bytes.size(), Encoding::Utf8, &mark) != Encoding::Utf8 || mark)
        return Encoding::Utf8;  // the mark decides, and its text never fails
    return IsStrictUtf8(data, bytes.size(), ascii) ? Encoding::Utf8 : Encoding::Ansi;
}

}  // namespace

void ScanMemoryStream(ByteSource& source, ReadContext& ctx) {
    // The whole file is read and its encoding settled before its first line is
    // examined, so a decoding error never hands a line over twice.
    static thread_local HeldBytes held;
    struct Trim {
        ~Trim() { held.Trim(kKeptBytes); }
    } trim;
    Encoding encoding = Encoding::Utf8;
    bool whole;
    try {
        whole = held.Load(source, kMemoryStreamLimit);
    } catch (const std::bad_alloc&) {
        throw;  // memory ran out: the file fails, it is not retried
    } catch (const std::exception&) {
        // A file that could not be read is tried once more, in ANSI.
        encoding = Encoding::Ansi;
        whole = held.Load(source, kMemoryStreamLimit);
    }
    if (whole) {
        bool ascii = false;
        if (encoding == Encoding::Utf8) encoding = SettleEncoding(held.Bytes(), &ascii);
        ScanHeldBytes(held.Bytes(), encoding, ctx, ascii);
        return;
    }
    // Too large to hold (or grown past the limit while it was read): the
    // encoding is settled by a first pass that only decodes, and the lines
    // come from a second one, so the findings are those of the whole text.
    held.Trim(0);
    if (encoding == Encoding::Utf8 && !DecodesAsUtf8(source, ctx.ansiCodePage, ctx.stop))
        encoding = Encoding::Ansi;
    if (ctx.stop.load(std::memory_order_relaxed)) return;
    ReadAllLines(source, encoding, ctx.ansiCodePage, true, ctx.sink, ctx.stop);
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
    // Shared by both attempts: a file that fits in one chunk is not read again.
    Buffers buffers(source);
    try {
        if (!ReadLines(buffers, Encoding::Utf8, ctx.ansiCodePage, true, ctx.sink, ctx.stop)) return;
    } catch (const std::bad_alloc&) {
        throw;  // memory ran out: the file fails, it is not retried
    } catch (const std::exception&) {
        // A read that failed is tried once more, as text that did not decode is.
    }
    // Read again from the first line in ANSI: the findings of the lines
    // examined before the failure come a second time.
    if (const char* error =
            ReadLines(buffers, Encoding::Ansi, ctx.ansiCodePage, true, ctx.sink, ctx.stop))
        throw DecodeError(error);
}

}  // namespace corvexa
