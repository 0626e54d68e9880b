#include "engine/eml_reader.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/mail_charset.h"
#include "engine/text_reader.h"
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

// Builds the text of one message: parts, then the body outside them, then the
// header lines.
class MessageText {
public:
    explicit MessageText(Text& out) : out_(out) {}

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
        for (int i = 0; i < count; ++i) Object(g_mime_multipart_get_part(multipart, i), depth);
    }

    void Object(GMimeObject* object, int depth) {
        if (GMIME_IS_MULTIPART(object)) {
            Children(GMIME_MULTIPART(object), depth);
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            // A forwarded message shown inline: read as a message of its own,
            // in its place. Nesting is bounded so a crafted file cannot recurse
            // without end.
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner && !IsAttachment(object) && depth < 32) Message(inner, depth + 1);
        } else if (GMIME_IS_TEXT_PART(object) && !IsAttachment(object)) {
            TextPart(GMIME_PART(object));
        }
    }

    void TextPart(GMimePart* part) {
        GMimeDataWrapper* content = g_mime_part_get_content(part);
        if (!content) return;
        GByteArray* bytes = g_byte_array_new();
        Owned<GMimeStream> sink(g_mime_stream_mem_new_with_byte_array(bytes));  // owns bytes
        if (g_mime_data_wrapper_write_to_stream(content, sink.get()) < 0)
            throw ReadError("cannot decode a part of the message");
        const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
        AppendDecoded(reinterpret_cast<const char*>(bytes->data), bytes->len, charset ? charset : "", out_);
        out_ += u"\r\n";
    }

    void RawEntry(const char* text) {
        std::size_t size = text ? std::strlen(text) : 0;
        while (size > 0 && (text[size - 1] == '\n' || text[size - 1] == '\r')) --size;
        if (size == 0) return;
        AppendDecoded(text, size, "", out_);
        out_ += u"\r\n";
    }

    // The message's own header lines and those of its top part (the content
    // type and transfer encoding) come from one header block: put them back
    // in file order.
    void Headers(GMimeMessage* message) {
        std::vector<GMimeHeader*> lines;
        for (GMimeObject* object : {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)}) {
            GMimeHeaderList* headers = object ? g_mime_object_get_header_list(object) : nullptr;
            const int count = headers ? g_mime_header_list_get_count(headers) : 0;
            for (int i = 0; i < count; ++i) lines.push_back(g_mime_header_list_get_header_at(headers, i));
        }
        std::stable_sort(lines.begin(), lines.end(), [](GMimeHeader* a, GMimeHeader* b) {
            return g_mime_header_get_offset(a) < g_mime_header_get_offset(b);
        });
        for (GMimeHeader* header : lines) {
            // Unfolded, encoded words decoded: the raw pass sees the lines as
            // they are stored.
            const char* name = g_mime_header_get_raw_name(header);
            const char* value = g_mime_header_get_value(header);
            std::string line = std::string(name ? name : "") + ": " + (value ? value : "");
            AppendDecoded(line.data(), line.size(), "utf-8", out_);
            out_ += u"\r\n";
        }
    }

    Text& out_;
};

}  // namespace

Text EmlText(const Text& path) {
    InitMime();
    const std::string native = platform::NativeFromPath(path);
    int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw ReadError("cannot open " + native + ": " + std::strerror(errno));
    // The parser keeps the parts' contents in the file rather than in memory,
    // so an attachment of hundreds of MB costs nothing: it is never decoded.
    Owned<GMimeStream> stream(g_mime_stream_fs_new(fd));  // owns fd
    Owned<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    Owned<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) throw ReadError("not an e-mail message: " + native);
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message.get()));
    if (!headers || g_mime_header_list_get_count(headers) == 0)
        throw ReadError("no message headers: " + native);
    Text text;
    MessageText(text).Message(message.get(), 0);
    return text;
}

namespace {

class EmlReader : public DocumentReader {
public:
    std::string_view Name() const override { return "eml"; }
    std::string_view Description() const override { return "MIME-decoded e-mail messages (.eml)"; }
    bool Available() const override { return true; }
    Text ReadText(const Text& path) override { return EmlText(path); }
};

}  // namespace

std::shared_ptr<DocumentReader> MakeEmlReader() { return std::make_shared<EmlReader>(); }

}  // namespace corvexa
