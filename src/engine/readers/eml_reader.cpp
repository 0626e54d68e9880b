#include "engine/readers/eml_reader.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/readers/mail_charset.h"
#include "engine/readers/text_reader.h"
#include "platform/native_path.h"

namespace corvexa {

namespace {

struct Unref {
    void operator()(void* object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

void InitMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// A forwarded message counts as an attachment on the same terms as any part.
bool IsAttachment(GMimeObject* object) {
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
    if (d && g_mime_content_disposition_is_attachment(d)) return true;
    if (d && g_mime_content_disposition_get_parameter(d, "filename")) return true;
    return g_mime_object_get_content_type_parameter(object, "name") != nullptr;
}

// How deep forwarded messages are decoded inside one another.
constexpr int kDeepestMessage = 32;

// Collects text and hands it on in pieces of about kEmlPieceLength.
class PieceOut {
public:
    explicit PieceOut(const TextPieces& feed) : feed_(feed) {}
    Text& Buffer() { return buffer_; }
    // Hands the buffer on once it is long enough; false once the receiver
    // wants no more.
    bool Check() {
        if (buffer_.size() >= kEmlPieceLength) Flush();
        return !stopped_;
    }
    void Flush() {
        if (!buffer_.empty() && !stopped_) stopped_ = !feed_(buffer_);
        buffer_.clear();
    }
    bool Stopped() const { return stopped_; }

private:
    const TextPieces& feed_;
    Text buffer_;
    bool stopped_ = false;
};

// Hands the part's content, its transfer encoding undone, to use piece by
// piece; false when use asked to stop.
template <class Use>
bool ForEachDecodedPiece(GMimeDataWrapper* content, Use use) {
    GMimeStream* raw = g_mime_data_wrapper_get_stream(content);
    if (!raw) return true;
    g_mime_stream_reset(raw);
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    const bool encoded = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                         encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                         encoding == GMIME_CONTENT_ENCODING_UUENCODE;
    GMimeEncoding state;
    g_mime_encoding_init_decode(&state, encoding);
    constexpr std::size_t kChunk = 65536;
    std::vector<char> in(kChunk), out(encoded ? g_mime_encoding_outlen(&state, kChunk) : 0);
    for (;;) {
        ssize_t n = g_mime_stream_read(raw, in.data(), kChunk);
        // A part's stream ends at its bound, which some streams report as -1.
        if (n < 0 && !g_mime_stream_eos(raw)) throw ReadError("cannot read a part of the message");
        const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
        const bool last = got == 0;
        if (!encoded) {
            if (!use(in.data(), got, last)) return false;
        } else {
            // The decoder keeps what a piece cuts short for the next one; the
            // last call flushes it, as a decoding of the whole would.
            const std::size_t made = last
                                         ? g_mime_encoding_flush(&state, in.data(), 0, out.data())
                                         : g_mime_encoding_step(&state, in.data(), got, out.data());
            if (!use(out.data(), made, last)) return false;
        }
        if (last) return true;
    }
}

// Builds the text of one message: parts, then the body outside them, then the
// header lines.
class MessageText {
public:
    explicit MessageText(PieceOut& out) : out_(out) {}

    // Whether a message was left out for being nested too deep.
    bool Cut() const { return cut_; }
    // Whether a header line was decoded only in part for its length.
    bool HeaderCut() const { return headerCut_; }

    void Message(GMimeMessage* message, int depth) {
        GMimeObject* body = g_mime_message_get_mime_part(message);
        if (body && GMIME_IS_MULTIPART(body)) {
            Children(GMIME_MULTIPART(body), depth);
            // What the message keeps outside its parts.
            GMimeMultipart* multipart = GMIME_MULTIPART(body);
            RawEntry(g_mime_multipart_get_prologue(multipart));
            RawEntry(g_mime_multipart_get_epilogue(multipart));
        } else if (body) {
            Object(body, depth);
        }
        Headers(message);
    }

private:
    void Children(GMimeMultipart* multipart, int depth) {
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count && !out_.Stopped(); ++i)
            Object(g_mime_multipart_get_part(multipart, i), depth);
    }

    void Object(GMimeObject* object, int depth) {
        if (GMIME_IS_MULTIPART(object)) {
            Children(GMIME_MULTIPART(object), depth);
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            // A forwarded message shown inline: read as a message of its own,
            // in its place. Nesting is bounded so a crafted file cannot recurse
            // without end.
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (!inner || IsAttachment(object)) return;
            if (depth < kDeepestMessage)
                Message(inner, depth + 1);
            else
                cut_ = true;
        } else if (GMIME_IS_TEXT_PART(object) && !IsAttachment(object)) {
            TextPart(GMIME_PART(object));
        }
    }

    // Decoded as it is read: the transfer encoding, then the character set,
    // a piece at a time. Without a known charset the choice between UTF-8
    // and windows-1252 rests on the whole content, checked in a first pass.
    void TextPart(GMimePart* part) {
        GMimeDataWrapper* content = g_mime_part_get_content(part);
        if (!content) return;
        const char* label = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
        const std::string charset = label ? label : "";
        bool validUtf8 = true;
        if (!IsKnownLabel(charset)) {
            Utf8Checker checker;
            ForEachDecodedPiece(content, [&](const char* data, std::size_t size, bool) {
                checker.Add(data, size);
                return true;
            });
            validUtf8 = checker.Valid();
        }
        MailDecoder decoder(charset, validUtf8);
        ForEachDecodedPiece(content, [&](const char* data, std::size_t size, bool last) {
            decoder.Append(data, size, last, out_.Buffer());
            return out_.Check();
        });
        out_.Buffer() += u"\r\n";
        out_.Check();
    }

    void RawEntry(const char* text) {
        std::size_t size = text ? std::strlen(text) : 0;
        while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r')) --size;
        if (size == 0) return;
        AppendDecoded(text, size, "", out_.Buffer());
        out_.Buffer() += u"\r\n";
        out_.Check();
    }

    // A header line's value, unfolded, encoded words decoded; one longer than
    // kLongestHeader is decoded only as far as that.
    std::string HeaderValue(GMimeHeader* header) {
        const char* raw = g_mime_header_get_raw_value(header);
        if (!raw || ::strnlen(raw, kLongestHeader + 1) <= kLongestHeader) {
            const char* value = g_mime_header_get_value(header);
            return value ? value : "";
        }
        headerCut_ = true;
        const std::string head(raw, kLongestHeader);
        char* unfolded = g_mime_utils_header_unfold(head.c_str());
        char* decoded = unfolded ? g_mime_utils_header_decode_text(nullptr, unfolded) : nullptr;
        std::string value = decoded ? decoded : "";
        g_free(decoded);
        g_free(unfolded);
        return value;
    }

    // The message's own header lines and those of its top part (the content
    // type and transfer encoding) come from one header block: put them back
    // in file order.
    void Headers(GMimeMessage* message) {
        std::vector<GMimeHeader*> lines;
        for (GMimeObject* object : {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)}) {
            GMimeHeaderList* headers = object ? g_mime_object_get_header_list(object) : nullptr;
            const int count = headers ? g_mime_header_list_get_count(headers) : 0;
            for (int i = 0; i < count; ++i)
                lines.push_back(g_mime_header_list_get_header_at(headers, i));
        }
        std::stable_sort(lines.begin(), lines.end(), [](GMimeHeader* a, GMimeHeader* b) {
            return g_mime_header_get_offset(a) < g_mime_header_get_offset(b);
        });
        for (GMimeHeader* header : lines) {
            if (out_.Stopped()) return;
            // Unfolded, encoded words decoded: the raw pass sees the lines as
            // they are stored.
            const char* name = g_mime_header_get_raw_name(header);
            const std::string line = std::string(name ? name : "") + ": " + HeaderValue(header);
            AppendDecoded(line.data(), line.size(), "utf-8", out_.Buffer());
            out_.Buffer() += u"\r\n";
            out_.Check();
        }
    }

    PieceOut& out_;
    bool cut_ = false;
    bool headerCut_ = false;
};

// The bytes of the message being read, kept from one message to the next on
// the same thread: a fresh block for each would cost more than its copy.
struct MessageBuffer {
    GByteArray* bytes = g_byte_array_new();
    ~MessageBuffer() { g_byte_array_unref(bytes); }
};

// A message of ordinary size is read into memory in one go, its parts then
// sliced from there. A larger one stays in the file: the parser keeps only
// where each part lies, so an attachment of hundreds of MB costs nothing, as
// it is never decoded. Takes over fd.
GMimeStream* MessageStream(int fd) {
    constexpr off_t kInMemory = 64 << 20;
    constexpr guint kKeep = 8 << 20;
    thread_local MessageBuffer buffer;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kInMemory)
        return g_mime_stream_fs_new(fd);  // owns fd
    if (buffer.bytes->len > kKeep) {
        g_byte_array_unref(buffer.bytes);
        buffer.bytes = g_byte_array_new();
    }
    GByteArray* bytes = buffer.bytes;
    g_byte_array_set_size(bytes, static_cast<guint>(st.st_size));
    std::size_t filled = 0;
    while (filled < bytes->len) {
        ssize_t n = ::read(fd, bytes->data + filled, bytes->len - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw ReadError(std::string("cannot read the message: ") + std::strerror(error));
        }
        if (n == 0) break;  // shorter than it was a moment ago
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    g_byte_array_set_size(bytes, static_cast<guint>(filled));
    GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(bytes);
    // The message and its parts are gone before the next one is read.
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
    return stream;
}

}  // namespace

namespace {

// Hands the decoded text of the message in stream to feed; `native` names it
// in errors.
void StreamMessage(GMimeStream* stream, const std::string& native, const TextPieces& feed);

// Collects the pieces into one text.
template <class Stream>
Text Whole(Stream stream) {
    Text text;
    try {
        stream([&](TextView piece) {
            text += piece;
            return true;
        });
    } catch (const PartialRead& cut) {
        throw PartialRead(std::move(text), cut.what());
    }
    return text;
}

}  // namespace

void EmlStream(const Text& path, const TextPieces& feed) {
    InitMime();
    const std::string native = platform::NativeFromPath(path);
    // A path of any length, as the plain-text reader opens it; a FIFO or
    // device named like a message is refused without waiting on it.
    int fd = platform::OpenNative(native, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw ReadError("cannot open " + native + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError("not a regular file: " + native);
    }
    Owned<GMimeStream> stream(MessageStream(fd));
    StreamMessage(stream.get(), native, feed);
}

void EmlStreamOfBytes(std::string_view bytes, const std::string& name, const TextPieces& feed) {
    InitMime();
    Owned<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    StreamMessage(stream.get(), name, feed);
}

Text EmlText(const Text& path) {
    return Whole([&](const TextPieces& feed) { EmlStream(path, feed); });
}

Text EmlTextOfBytes(std::string_view bytes, const std::string& name) {
    return Whole([&](const TextPieces& feed) { EmlStreamOfBytes(bytes, name, feed); });
}

namespace {

void StreamMessage(GMimeStream* stream, const std::string& native, const TextPieces& feed) {
    Owned<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    Owned<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) throw NotDecodable("not an e-mail message: " + native);
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.get()));
    if (!headers || g_mime_header_list_get_count(headers) == 0)
        throw NotDecodable("no message headers: " + native);
    PieceOut out(feed);
    MessageText builder(out);
    builder.Message(message.get(), 0);
    out.Flush();
    std::string why;
    if (builder.Cut())
        why = "messages forwarded inside more than " + std::to_string(kDeepestMessage) +
              " others were not decoded";
    if (builder.HeaderCut())
        why += (why.empty() ? "" : "; ") + std::string("a header line longer than ") +
               std::to_string(kLongestHeader >> 20) + " MB was decoded only in part";
    if (!why.empty()) throw PartialRead(Text(), "partly read: " + why);
}

}  // namespace

namespace {

class EmlReader : public DocumentReader {
public:
    std::string_view Name() const override { return "eml"; }
    std::string_view Description() const override { return "MIME-decoded e-mail messages (.eml)"; }
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override { return EmlText(path); }
    bool ReadsMemory() const override { return true; }
    Text ReadBytes(std::string_view bytes, const std::string& name) override {
        return EmlTextOfBytes(bytes, name);
    }
    void StreamText(const Text& path, const TextPieces& feed) override { EmlStream(path, feed); }
};

}  // namespace

std::shared_ptr<DocumentReader> MakeEmlReader() {
    return std::make_shared<EmlReader>();
}

}  // namespace corvexa
