#include "app/corvexa-scan/structured_output.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "app/corvexa-scan/scan_output.h"
#include "platform/native_path.h"
#include "platform/utf8.h"

namespace corvexa::cli {

namespace {

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = (v << 8) |
                (k < n ? static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + k])) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

// A JSON string (with its quotes) of valid UTF-8.
std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string CsvField(std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
    std::string out = "\"";
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// "name":"TEXT" for valid UTF-8, else "name_bytes":"BASE64".
void AppendName(std::string& b, const char* name, std::string_view bytes) {
    b += '"';
    b += name;
    if (utf8::IsValid(bytes)) {
        b += "\":";
        b += JsonString(bytes);
    } else {
        b += "_bytes\":\"";
        b += Base64(bytes);
        b += '"';
    }
}

// The file and member of each finding as bytes, looked up once per run.
class Places {
public:
    Places(const FindingOrigins& origins, const SharedList& files)
        : origins_(origins), files_(files) {}

    FindingOrigins::Origin At(std::size_t i) {
        FindingOrigins::Origin o = origins_.At(i);
        if (!known_ || o.file != file_ || o.member != member_) {
            Text path;
            fileBytes_ =
                files_.TryAt(o.file, path) ? platform::NativeFromPath(path) : std::string();
            memberBytes_ =
                o.member.empty() ? std::string() : platform::NativeFromPath(FromUtf8(o.member));
            file_ = o.file;
            member_ = o.member;
            known_ = true;
        }
        return o;
    }
    const std::string& File() const { return fileBytes_; }
    const std::string& Member() const { return memberBytes_; }

private:
    const FindingOrigins& origins_;
    const SharedList& files_;
    bool known_ = false;
    std::uint64_t file_ = 0;
    std::string member_, fileBytes_, memberBytes_;
};

}  // namespace

bool PrintJsonLines(const SharedList& list, const FindingOrigins& origins, const SharedList& files,
                    const ScanTotals& totals) {
    OutputBuffer out;
    Places places(origins, files);
    Text entry;
    std::size_t count = 0;
    for (; list.TryAt(count, entry); ++count) {
        const FindingOrigins::Origin o = places.At(count);
        std::string& b = out.Buffer();
        b += '{';
        AppendName(b, "file", places.File());
        if (!o.member.empty()) {
            b += ',';
            AppendName(b, "member", places.Member());
        }
        b += ",\"line\":" + std::to_string(o.line) + ",\"kind\":\"" + FindingKindName(o.kind) +
             "\",";
        AppendName(b, "text", ToUtf8(entry));
        b += '}';
        if (!out.Line()) return false;
    }
    // To the millisecond, with a point whatever the locale.
    const auto ms = static_cast<std::uint64_t>(std::llround(std::max(0.0, totals.seconds) * 1000));
    const std::string fraction = std::to_string(ms % 1000);
    const std::string seconds =
        std::to_string(ms / 1000) + "." + std::string(3 - fraction.size(), '0') + fraction;
    out.Buffer() += "{\"summary\":{\"files_read\":" + std::to_string(totals.filesRead) +
                    ",\"failed\":" + std::to_string(totals.failed) +
                    ",\"findings\":" + std::to_string(count) + ",\"seconds\":" + seconds +
                    ",\"stopped\":" + (totals.stopped ? "true" : "false") + "}}";
    return out.Line() && out.Flush();
}

bool PrintCsv(const SharedList& list, const FindingOrigins& origins, const SharedList& files) {
    OutputBuffer out;
    out.Buffer() += "file,member,line,kind,text";
    if (!out.Line("\r\n")) return false;
    Places places(origins, files);
    Text entry;
    for (std::size_t i = 0; list.TryAt(i, entry); ++i) {
        const FindingOrigins::Origin o = places.At(i);
        std::string& b = out.Buffer();
        b += CsvField(places.File()) + ',' + CsvField(places.Member()) + ',' +
             std::to_string(o.line) + ',' + FindingKindName(o.kind) + ',' + CsvField(ToUtf8(entry));
        if (!out.Line("\r\n")) return false;
    }
    return out.Flush();
}

}  // namespace corvexa::cli
