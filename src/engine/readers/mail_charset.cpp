#include "engine/readers/mail_charset.h"

#include <unicode/ucnv.h>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/readers/text_reader.h"
#include "platform/utf8.h"

namespace corvexa {

namespace {

struct EncodingEntry {
    std::string_view name;       // the encoding
    std::string_view converter;  // the ICU converter that decodes it
    std::string_view labels;     // every label naming it, lower case, space-separated
};

// The label table of the web's encoding rules, which mail readers follow too.
constexpr EncodingEntry kEncodings[] = {
    {"UTF-8", "UTF-8", "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", "IBM866", "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", "ISO-8859-2",
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", "ISO-8859-3",
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", "ISO-8859-4",
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", "ISO-8859-5",
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 "
     "iso_8859-5:1988"},
    {"ISO-8859-6", "ISO-8859-6",
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", "ISO-8859-7",
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {"ISO-8859-8", "ISO-8859-8",
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual"},
    {"ISO-8859-8-I", "ISO-8859-8", "csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", "ISO-8859-10",
     "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", "ISO-8859-13", "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", "ISO-8859-14", "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", "ISO-8859-15", "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"ISO-8859-16", "", "iso-8859-16"},  // not among ICU's converters
    {"KOI8-R", "KOI8-R", "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", "KOI8-U", "koi8-ru koi8-u"},
    {"macintosh", "macintosh", "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", "windows-874", "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", "windows-1250", "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", "windows-1251", "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", "windows-1252",
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
     "iso88591 "
     "iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", "windows-1253", "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", "windows-1254",
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 windows-1254 x-cp1254"},
    {"windows-1255", "windows-1255", "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", "windows-1256", "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", "windows-1257", "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", "windows-1258", "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", "x-mac-cyrillic", "x-mac-cyrillic x-mac-ukrainian"},
    {"GBK", "GB18030",
     "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {"gb18030", "GB18030", "gb18030"},
    {"Big5", "Big5-HKSCS", "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", "EUC-JP", "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", "ISO-2022-JP", "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", "windows-31j",
     "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    {"EUC-KR", "windows-949",
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 "
     "ksc_5601 windows-949"},
    {"replacement", "",
     "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {"UTF-16BE", "UTF-16BE", "unicodefffe utf-16be"},
    {"UTF-16LE", "UTF-16LE", "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {"x-user-defined", "", "x-user-defined"},
};

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

const EncodingEntry* Find(std::string_view label) {
    while (!label.empty() && IsAsciiSpace(label.front())) label.remove_prefix(1);
    while (!label.empty() && IsAsciiSpace(label.back())) label.remove_suffix(1);
    if (label.empty() || label.size() > 40) return nullptr;
    std::string lower(label);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const EncodingEntry& e : kEncodings) {
        std::string_view labels = e.labels;
        while (!labels.empty()) {
            std::size_t end = labels.find(' ');
            if (labels.substr(0, end) == lower) return &e;
            if (end == std::string_view::npos) break;
            labels.remove_prefix(end + 1);
        }
    }
    return nullptr;
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

using ByteTable = std::array<char16_t, 256>;

// A single-byte encoding decodes through a table of its 256 characters, made
// once by its converter: several times faster than converting every text.
const ByteTable* SingleByteTable(std::string_view converter, UConverter* cnv) {
    if (ucnv_getMaxCharSize(cnv) != 1) return nullptr;
    static std::mutex mutex;
    static std::map<std::string, ByteTable, std::less<>> tables;
    std::lock_guard lock(mutex);
    if (auto it = tables.find(converter); it != tables.end()) return &it->second;
    ByteTable table;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        UChar unit[4];
        UErrorCode status = U_ZERO_ERROR;
        ucnv_reset(cnv);
        int32_t n = ucnv_toUChars(cnv, unit, 4, &byte, 1, &status);
        if (U_FAILURE(status) || n != 1) return nullptr;
        table[static_cast<std::size_t>(b)] = static_cast<char16_t>(unit[0]);
    }
    ucnv_reset(cnv);
    // Node-based: the table stays where it is while others are added.
    return &tables.emplace(std::string(converter), table).first->second;
}

// Decodes through ICU, piece by piece, so that a large part needs no more than
// its own text besides the bytes.
void AppendConverted(const char* data, std::size_t size, std::string_view converter, Text& out) {
    if (converter == "UTF-8") {
        // The strict decoder of plain text files is much faster than a
        // converter; only text that is not valid UTF-8 goes the slow way.
        const std::size_t start = out.size();
        try {
            TextDecoder(Encoding::Utf8, 1252).DecodeAppend(data, size, true, out);
            return;
        } catch (const DecodeError&) {
            out.resize(start);
        }
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> cnv(
        ucnv_open(std::string(converter).c_str(), &status));
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        cnv.reset(ucnv_open("windows-1252", &status));
    }
    if (!cnv) throw std::runtime_error("no character set converter");
    if (const ByteTable* table = SingleByteTable(converter, cnv.get())) {
        const std::size_t start = out.size();
        out.resize(start + size);
        for (std::size_t i = 0; i < size; ++i)
            out[start + i] = (*table)[static_cast<unsigned char>(data[i])];
        return;
    }
    const char* source = data;
    const char* sourceEnd = data + size;
    const std::size_t start = out.size();
    out.resize(start + size + 16);
    std::size_t written = start;
    for (;;) {
        status = U_ZERO_ERROR;
        UChar* target = reinterpret_cast<UChar*>(out.data()) + written;
        UChar* targetEnd = reinterpret_cast<UChar*>(out.data()) + out.size();
        ucnv_toUnicode(cnv.get(), &target, targetEnd, &source, sourceEnd, nullptr, true, &status);
        written = static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out.data()));
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
        out.resize(out.size() + static_cast<std::size_t>(sourceEnd - source) + 64);
    }
    out.resize(written);
}

void AppendUserDefined(const char* data, std::size_t size, Text& out) {
    out.reserve(out.size() + size);
    for (std::size_t i = 0; i < size; ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        out.push_back(b < 0x80 ? static_cast<char16_t>(b)
                               : static_cast<char16_t>(0xF780 + b - 0x80));
    }
}

// ISO-8859-16: Latin-1 but for these bytes.
constexpr std::pair<unsigned char, char16_t> kLatin10[] = {
    {0xA1, 0x0104}, {0xA2, 0x0105}, {0xA3, 0x0141}, {0xA4, 0x20AC}, {0xA5, 0x201E}, {0xA6, 0x0160},
    {0xA8, 0x0161}, {0xAA, 0x0218}, {0xAC, 0x0179}, {0xAE, 0x017A}, {0xAF, 0x017B}, {0xB2, 0x010C},
    {0xB3, 0x0142}, {0xB4, 0x017D}, {0xB5, 0x201D}, {0xB8, 0x017E}, {0xB9, 0x010D}, {0xBA, 0x0219},
    {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}, {0xBF, 0x017C}, {0xC3, 0x0102}, {0xC5, 0x0106},
    {0xD0, 0x0110}, {0xD1, 0x0143}, {0xD5, 0x0150}, {0xD7, 0x015A}, {0xD8, 0x0170}, {0xDD, 0x0118},
    {0xDE, 0x021A}, {0xE3, 0x0103}, {0xE5, 0x0107}, {0xF0, 0x0111}, {0xF1, 0x0144}, {0xF5, 0x0151},
    {0xF7, 0x015B}, {0xF8, 0x0171}, {0xFD, 0x0119}, {0xFE, 0x021B},
};

void AppendLatin10(const char* data, std::size_t size, Text& out) {
    char16_t map[256];
    for (int b = 0; b < 256; ++b) map[b] = static_cast<char16_t>(b);
    for (auto [byte, unit] : kLatin10) map[byte] = unit;
    out.reserve(out.size() + size);
    for (std::size_t i = 0; i < size; ++i) out.push_back(map[static_cast<unsigned char>(data[i])]);
}

// Where a UTF-8 sequence at the end of the bytes that may go on past them
// starts; size when there is none.
std::size_t OpenTail(const char* data, std::size_t size) {
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto c = static_cast<unsigned char>(data[size - back]);
        if ((c & 0xC0) == 0x80) continue;
        const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? size - back : size;
    }
    return size;
}

// Puts carry and the piece together, hands the part that ends at a whole
// sequence to use and keeps the rest in carry.
template <class Use>
void WholeSequences(std::string& carry, const char* data, std::size_t size, bool last, Use use) {
    std::string joined;
    if (!carry.empty()) {
        joined = carry;
        joined.append(data, size);
        data = joined.data();
        size = joined.size();
    }
    const std::size_t end = last ? size : OpenTail(data, size);
    std::string rest(data + end, size - end);
    use(data, end);
    carry = std::move(rest);
}

}  // namespace

struct MailDecoder::Icu {
    std::unique_ptr<UConverter, ConverterCloser> cnv;
    const ByteTable* table = nullptr;
};

MailDecoder::MailDecoder(std::string_view label, bool validUtf8) {
    const EncodingEntry* e = Find(label);
    std::string_view converter;
    if (!e) {
        converter = validUtf8 ? "UTF-8" : "windows-1252";
    } else if (e->name == "replacement") {
        way_ = Way::Replacement;
        return;
    } else if (e->name == "x-user-defined") {
        way_ = Way::UserDefined;
        return;
    } else if (e->name == "ISO-8859-16") {
        way_ = Way::Latin10;
        return;
    } else {
        converter = e->converter;
    }
    converter_ = std::string(converter);
    if (converter == "UTF-8") {
        way_ = Way::Utf8;
        return;
    }
    icu_ = new Icu;
    UErrorCode status = U_ZERO_ERROR;
    icu_->cnv.reset(ucnv_open(converter_.c_str(), &status));
    if (U_FAILURE(status)) {
        status = U_ZERO_ERROR;
        icu_->cnv.reset(ucnv_open("windows-1252", &status));
    }
    if (!icu_->cnv) {
        delete icu_;
        icu_ = nullptr;
        throw std::runtime_error("no character set converter");
    }
    icu_->table = SingleByteTable(converter_, icu_->cnv.get());
}

MailDecoder::~MailDecoder() {
    delete icu_;
}

void MailDecoder::AppendUtf8(const char* data, std::size_t size, bool last, Text& out) {
    // Each run of whole sequences decodes alone as it would within the whole:
    // a sequence is never split between two runs.
    WholeSequences(carry_, data, size, last, [&](const char* run, std::size_t n) {
        if (n > 0) AppendConverted(run, n, "UTF-8", out);
    });
}

void MailDecoder::Append(const char* data, std::size_t size, bool last, Text& out) {
    switch (way_) {
        case Way::Replacement:
            if (size > 0 && !anyBytes_) out.push_back(u'\uFFFD');
            anyBytes_ = anyBytes_ || size > 0;
            return;
        case Way::UserDefined:
            AppendUserDefined(data, size, out);
            return;
        case Way::Latin10:
            AppendLatin10(data, size, out);
            return;
        case Way::Utf8:
            AppendUtf8(data, size, last, out);
            return;
        case Way::Converter:
            break;
    }
    if (icu_->table) {
        const std::size_t start = out.size();
        out.resize(start + size);
        for (std::size_t i = 0; i < size; ++i)
            out[start + i] = (*icu_->table)[static_cast<unsigned char>(data[i])];
        return;
    }
    const char* source = data;
    const char* sourceEnd = data + size;
    std::size_t written = out.size();
    out.resize(written + size + 16);
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        UChar* target = reinterpret_cast<UChar*>(out.data()) + written;
        UChar* targetEnd = reinterpret_cast<UChar*>(out.data()) + out.size();
        ucnv_toUnicode(icu_->cnv.get(), &target, targetEnd, &source, sourceEnd, nullptr, last,
                       &status);
        written = static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out.data()));
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
        out.resize(out.size() + static_cast<std::size_t>(sourceEnd - source) + 64);
    }
    out.resize(written);
}

void Utf8Checker::Add(const char* data, std::size_t size) {
    WholeSequences(carry_, data, size, false, [&](const char* run, std::size_t n) {
        valid_ = valid_ && utf8::IsValid(std::string_view(run, n));
    });
}

std::string_view EncodingForLabel(std::string_view label) {
    const EncodingEntry* e = Find(label);
    return e ? e->name : std::string_view();
}

std::string_view ConverterForEncoding(std::string_view encoding) {
    for (const EncodingEntry& e : kEncodings)
        if (e.name == encoding) return e.converter;
    return {};
}

std::size_t EncodingCount() {
    return std::size(kEncodings);
}
std::string_view EncodingAt(std::size_t i) {
    return kEncodings[i].name;
}

void AppendDecoded(const char* data, std::size_t size, std::string_view label, Text& out) {
    const EncodingEntry* e = Find(label);
    if (!e) {
        AppendConverted(data, size,
                        utf8::IsValid(std::string_view(data, size)) ? "UTF-8" : "windows-1252",
                        out);
    } else if (e->name == "replacement") {
        // Encodings too dangerous to decode: the whole content is one U+FFFD.
        if (size > 0) out.push_back(u'\uFFFD');
    } else if (e->name == "x-user-defined") {
        AppendUserDefined(data, size, out);
    } else if (e->name == "ISO-8859-16") {
        AppendLatin10(data, size, out);
    } else {
        AppendConverted(data, size, e->converter, out);
    }
}

}  // namespace corvexa
