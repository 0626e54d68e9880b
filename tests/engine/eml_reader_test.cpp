// E-mail messages: MIME decoding of small hand-written messages (transfer
// encodings, nesting, attachments, charsets, headers), the decoded and raw
// passes of a scan, damaged files, and the label table of the charsets.
#include "engine/readers/eml_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "engine/readers/mail_charset.h"
#include "engine/readers/text_reader.h"
#include "support/empty_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

std::string Eml(const TempDir& dir, const std::string& name, const std::string& bytes) {
    return dir.Write(name, bytes).string();
}

std::string Decoded(const std::string& path) {
    return ToUtf8(EmlText(FromUtf8(path)));
}

using NullSink = test::EmptySink;

// The findings of a scan of one file with the message decoder on.
std::vector<std::string> Scan(const std::string& path, bool decode = true) {
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Kinds.Set(DocumentKind::Eml, decode);
    ScanControl control;
    SharedList files, urls;
    NullSink sink;
    files.Assign({FromUtf8(path)});
    TCollector collector(job, files, urls, control, sink);
    collector.CollectNow();
    std::vector<std::string> out;
    for (const Text& t : urls.Snapshot()) out.push_back(ToUtf8(t));
    return out;
}

const char* kBase64Body =
    "From: Alice <alice@from.example>\r\n"
    "To: bob@to.example\r\n"
    "Subject: hello\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    // "Write to carol@body.example please\r\n"
    "V3JpdGUgdG8gY2Fyb2xAYm9keS5leGFtcGxlIHBsZWFzZQ0K\r\n";

}  // namespace

TEST(Eml, Base64BodyIsFoundByTheDecodedPassAndItsHeadersAgainByTheRawPass) {
    TempDir dir;
    auto path = Eml(dir, "m.eml", kBase64Body);
    EXPECT_EQ(Decoded(path),
              "Write to carol@body.example please\r\n\r\n"
              "From: Alice <alice@from.example>\r\nTo: bob@to.example\r\nSubject: hello\r\n"
              "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
              "Content-Transfer-Encoding: base64\r\n");
    EXPECT_EQ(Scan(path),
              (std::vector<std::string>{"carol@body.example", "alice@from.example",
                                        "bob@to.example", "alice@from.example", "bob@to.example"}));
    // Decoding off: one raw pass, the encoded body yields nothing.
    EXPECT_EQ(Scan(path, false),
              (std::vector<std::string>{"alice@from.example", "bob@to.example"}));
}

TEST(Eml, PartsInMessageOrderAttachmentsSkippedThenBodyThenHeaders) {
    TempDir dir;
    auto path = Eml(dir, "m.eml",
                    "From: a@h.example\r\n"
                    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n"
                    "\r\n"
                    "This is a multi-part message; pre@amble.example\r\n"
                    "--outer\r\n"
                    "Content-Type: multipart/alternative; boundary=\"inner\"\r\n"
                    "\r\n"
                    "--inner\r\n"
                    "Content-Type: text/plain; charset=us-ascii\r\n"
                    "Content-Transfer-Encoding: quoted-printable\r\n"
                    "\r\n"
                    "Mail dave@qp.exa=\r\n"
                    "mple.org =3D soon\r\n"
                    "--inner\r\n"
                    "Content-Type: text/html; charset=utf-8\r\n"
                    "\r\n"
                    "<p><a href=\"mailto:erin@href.example\">write</a></p>\r\n"
                    "--inner--\r\n"
                    "--outer\r\n"
                    "Content-Type: text/plain; name=\"notes.txt\"\r\n"
                    "\r\n"
                    "named@attachment.example\r\n"
                    "--outer\r\n"
                    "Content-Type: text/plain\r\n"
                    "Content-Disposition: attachment\r\n"
                    "\r\n"
                    "disposed@attachment.example\r\n"
                    "--outer\r\n"
                    "Content-Type: application/octet-stream\r\n"
                    "Content-Transfer-Encoding: base64\r\n"
                    "\r\n"
                    // "binary@part.example"
                    "YmluYXJ5QHBhcnQuZXhhbXBsZQ==\r\n"
                    "--outer--\r\n");
    EXPECT_EQ(Decoded(path),
              "Mail dave@qp.example.org = soon\r\n"
              "<p><a href=\"mailto:erin@href.example\">write</a></p>\r\n"
              "This is a multi-part message; pre@amble.example\r\n"
              "From: a@h.example\r\n"
              "Content-Type: multipart/mixed; boundary=\"outer\"\r\n");
    auto found = Scan(path);
    // Decoded pass first: the joined address, the one only in an href.
    ASSERT_GE(found.size(), 3u);
    EXPECT_EQ(found[0], "dave@qp.example.org");
    EXPECT_EQ(found[1], "erin@href.example");
    EXPECT_EQ(std::count(found.begin(), found.end(), "dave@qp.example.org"), 1);
    // The attachments are found by the raw pass only, once each.
    EXPECT_EQ(std::count(found.begin(), found.end(), "named@attachment.example"), 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), "disposed@attachment.example"), 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), "binary@part.example"), 0);
}

TEST(Eml, CharsetsAsMailReadersDecodeThem) {
    TempDir dir;
    struct Case {
        const char* charset;  // nullptr: no charset parameter
        const char* encoding;
        std::string body;
        const char* text;
    } cases[] = {
        {"windows-1252", "8bit", "\x80 caf\xe9", "€ café"},
        {"ISO-8859-1", "8bit", "\x93q\x94 caf\xe9", "“q” café"},  // as windows-1252
        {"us-ascii", "quoted-printable", "=80 5", "€ 5"},         // as windows-1252
        {"UTF-8", "base64", "Y2Fmw6kg4oKs", "café €"},
        {"Shift_JIS", "8bit", "\x93\xfa\x96\x7b", "日本"},
        {"gb2312", "8bit", "\xd6\xd0\xce\xc4", "中文"},  // as GBK
        {" KOI8-R ", "8bit", "\xf0\xd2\xc9\xd7\xc5\xd4", "Привет"},
        {nullptr, "8bit", "caf\xc3\xa9", "café"},  // valid UTF-8
        {nullptr, "8bit", "caf\xe9", "café"},      // else windows-1252
        {"x-unknown-42", "8bit", "caf\xe9 \x80", "café €"},
        {"x-unknown-42", "8bit", "caf\xc3\xa9", "café"},
    };
    for (const Case& c : cases) {
        std::string type = "text/plain";
        if (c.charset) type += std::string("; charset=\"") + c.charset + "\"";
        auto path = Eml(dir, "m.eml",
                        "Subject: s\r\nContent-Type: " + type +
                            "\r\nContent-Transfer-Encoding: " + c.encoding + "\r\n\r\n" + c.body);
        std::string text = Decoded(path);
        EXPECT_EQ(text.substr(0, text.find("\r\n")), c.text) << (c.charset ? c.charset : "(none)");
    }
}

TEST(Eml, HeaderLinesInFileOrderUnfoldedWithEncodedWordsDecoded) {
    TempDir dir;
    auto path = Eml(dir, "m.eml",
                    "Received: from mx.example\r\n"
                    "Content-Type: text/plain; charset=utf-8\r\n"
                    "To: first@fold.example,\r\n"
                    "\tsecond@fold.example\r\n"
                    "Subject: =?iso-8859-1?q?Caf=E9_at_www=2Ecafe=2Eexample?=\r\n"
                    "From: =?utf-8?b?SsO2cmc=?= <j@from.example>\r\n"
                    "\r\n"
                    "body\r\n");
    EXPECT_EQ(Decoded(path),
              "body\r\n\r\n"
              "Received: from mx.example\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "To: first@fold.example,\tsecond@fold.example\r\n"
              "Subject: Café at www.cafe.example\r\n"
              "From: Jörg <j@from.example>\r\n");
    auto found = Scan(path);
    // The encoded subject's address only by the decoded pass.
    EXPECT_EQ(std::count(found.begin(), found.end(), "www.cafe.example"), 1);
    EXPECT_EQ(std::count(found.begin(), found.end(), "second@fold.example"), 2);
}

TEST(Eml, AForwardedMessageIsReadInItsPlaceUnlessAttached) {
    TempDir dir;
    const std::string inner =
        "From: orig@inner.example\r\n"
        "Subject: original\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "\r\n"
        // "see www.inner-body.example"
        "c2VlIHd3dy5pbm5lci1ib2R5LmV4YW1wbGU=\r\n";
    auto message = [&](const char* disposition) {
        return std::string(
                   "From: fwd@outer.example\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
                   "\r\n"
                   "--b\r\n"
                   "Content-Type: text/plain\r\n"
                   "\r\n"
                   "Forwarded below\r\n"
                   "--b\r\n"
                   "Content-Type: message/rfc822\r\n") +
               disposition + "\r\n\r\n" + inner + "--b\r\n" +
               "Content-Type: text/plain\r\n\r\nafter\r\n--b--\r\n";
    };
    EXPECT_EQ(Decoded(Eml(dir, "inline.eml", message("Content-Disposition: inline"))),
              "Forwarded below\r\n"
              "see www.inner-body.example\r\n"
              "From: orig@inner.example\r\nSubject: original\r\nContent-Type: text/plain\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "after\r\n"
              "From: fwd@outer.example\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n");
    EXPECT_EQ(Decoded(Eml(dir, "attached.eml", message("Content-Disposition: attachment"))),
              "Forwarded below\r\n"
              "after\r\n"
              "From: fwd@outer.example\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n");
}

TEST(Eml, DamagedMessages) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919 + 13) % 256);
    // Not messages: the decoder fails, and the scan reads them as plain text.
    for (auto [name, bytes] :
         {std::pair<const char*, std::string>{"garbage.eml", garbage}, {"empty.eml", ""}}) {
        auto path = Eml(dir, name, bytes + "\nwww.raw.example\n");
        if (std::string(name) == "empty.eml") path = Eml(dir, name, "");
        EXPECT_THROW(EmlText(FromUtf8(path)), NotDecodable) << name;
        EXPECT_EQ(Scan(path), std::string(name) == "empty.eml"
                                  ? std::vector<std::string>{}
                                  : std::vector<std::string>{"www.raw.example"})
            << name;
    }
    EXPECT_THROW(EmlText(FromUtf8((dir.Path() / "missing.eml").string())), ReadError);

    // Cut off in the middle of its base64 body: what is there is decoded.
    std::string cut = kBase64Body;
    cut.resize(cut.size() - 12);
    auto path = Eml(dir, "cut.eml", cut);
    EXPECT_EQ(Decoded(path).substr(0, 27), "Write to carol@body.example");
    EXPECT_EQ(Scan(path).size(), 5u);
}

TEST(Eml, AHugeAttachmentIsNeverHeldInMemory) {
    TempDir dir;
    const auto path = dir.Path() / "big.eml";
    {
        std::ofstream out(path, std::ios::binary);
        out << "From: big@from.example\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
               "--b\r\nContent-Type: text/plain\r\n\r\nsee www.small.example\r\n"
               "--b\r\nContent-Type: application/zip; name=\"big.zip\"\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n";
        const std::string line = std::string(76, 'Q') + "\r\n";
        for (int i = 0; i < 1'000'000; ++i) out << line;  // 78 MB
        out << "--b--\r\n";
    }
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_EQ(Decoded(path.string()).substr(0, 23), "see www.small.example\r\n");
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 40 * 1024) << "kB more at the peak";
}

// A large text part is handed over decoded in pieces of bounded size, never
// whole: base64 of 24 MB of text, a two-byte character on every line so that
// some fall across the reader's chunks, the address at the very end.
TEST(Eml, ALargeTextPartArrivesInBoundedPieces) {
    TempDir dir;
    const auto path = dir.Path() / "long.eml";
    std::string body;
    const std::string line = "caf\xc3\xa9 " + std::string(90, 'w') + "\n";
    while (body.size() < (std::size_t{24} << 20)) body += line;
    body += "write to last@tail.example\n";
    {
        std::ofstream out(path, std::ios::binary);
        out << "From: big@from.example\r\nContent-Type: text/plain; charset=utf-8\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n";
        static const char kDigits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string encoded;
        for (std::size_t i = 0; i < body.size(); i += 3) {
            const auto byte = [&](std::size_t k) {
                return k < body.size() ? static_cast<unsigned char>(body[k]) : 0u;
            };
            const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
            const std::size_t left = body.size() - i;
            encoded += kDigits[(v >> 18) & 63];
            encoded += kDigits[(v >> 12) & 63];
            encoded += left > 1 ? kDigits[(v >> 6) & 63] : '=';
            encoded += left > 2 ? kDigits[v & 63] : '=';
            if (encoded.size() >= 76) {
                out << encoded << "\r\n";
                encoded.clear();
            }
        }
        out << encoded << "\r\n";
    }
    std::size_t largest = 0, pieces = 0;
    Text text;
    EmlStream(FromUtf8(path.string()), [&](TextView piece) {
        largest = std::max(largest, piece.size());
        ++pieces;
        text += piece;
        return true;
    });
    EXPECT_GT(pieces, 100u);
    EXPECT_LE(largest, 3 * kEmlPieceLength) << "code units in the largest piece";
    const Text expected = FromUtf8(body);
    ASSERT_GE(text.size(), expected.size());
    EXPECT_TRUE(text.substr(0, expected.size()) == expected) << "the part decoded as a whole";
    EXPECT_EQ(text, EmlText(FromUtf8(path.string())));
    const auto found = Scan(path.string());
    EXPECT_NE(std::find(found.begin(), found.end(), "last@tail.example"), found.end());

    // The receiver may stop the reading: nothing more is handed over.
    pieces = 0;
    EmlStream(FromUtf8(path.string()), [&](TextView) { return ++pieces < 3; });
    EXPECT_EQ(pieces, 3u);
}

// A header line past the bound is decoded as far as the bound, and the
// message is said to be read in part.
TEST(Eml, AHeaderLineIsDecodedUpToItsBound) {
    TempDir dir;
    std::string fold;
    while (fold.size() < kLongestHeader + 100) fold += "\r\n folded words";
    const auto path =
        Eml(dir, "m.eml",
            "X-Long: =?utf-8?Q?caf=C3=A9?= start" + fold + "\r\nSubject: after\r\n\r\nbody\r\n");
    try {
        EmlText(FromUtf8(path));
        ADD_FAILURE() << "the cut is not said";
    } catch (const PartialRead& cut) {
        EXPECT_STREQ(cut.what(),
                     "partly read: a header line longer than 1 MB was decoded only in part");
        const std::string text = ToUtf8(cut.TextSoFar());
        EXPECT_EQ(text.substr(0, 6), "body\r\n");
        EXPECT_NE(text.find("X-Long: café start folded words folded"), std::string::npos);
        EXPECT_NE(text.find("Subject: after\r\n"), std::string::npos);
        EXPECT_LT(text.size(), kLongestHeader + 200);
    }
}

// Bytes in pieces decode as the same bytes whole, wherever they are cut: a
// character of several bytes, an invalid sequence, a converter's state.
TEST(MailCharset, PiecesDecodeAsTheWhole) {
    struct Case {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"utf-8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 x"},
        {"utf-8", "bad \xe2\x82 \xc3 \xff\xfe \x80\x80 \xf0\x9f\x98 end \xe2"},
        {"", "caf\xc3\xa9 \xe2\x82\xac"},  // no label, valid UTF-8
        {"", "caf\xe9 \x80 \xc3"},         // no label, windows-1252
        {"windows-1252", "\x93q\x94 caf\xe9"},
        {"shift_jis", "\x93\xfa\x96\x7b a \x93"},
        {"gb18030", "\xd6\xd0\xce\xc4 \x81\x30\x81\x30 z"},
        {"iso-2022-jp", "a \x1b$B$3$s\x1b(B b"},
        {"utf-16le", std::string("a\0b\0=\xd8\x00\xde", 8)},
        {"replacement", "abc"},
        {"x-user-defined", "a\x80\xff"},
        {"iso-8859-16", "\xa4 \xaa\xe9"},
    };
    for (const Case& c : cases) {
        Text whole;
        AppendDecoded(c.bytes.data(), c.bytes.size(), c.label, whole);
        for (std::size_t step = 1; step <= c.bytes.size(); ++step) {
            Utf8Checker checker;
            for (std::size_t i = 0; i < c.bytes.size(); i += step)
                checker.Add(c.bytes.data() + i, std::min(step, c.bytes.size() - i));
            MailDecoder decoder(c.label, checker.Valid());
            Text pieces;
            for (std::size_t i = 0; i < c.bytes.size(); i += step)
                decoder.Append(c.bytes.data() + i, std::min(step, c.bytes.size() - i), false,
                               pieces);
            decoder.Append(c.bytes.data(), 0, true, pieces);
            EXPECT_TRUE(pieces == whole) << c.label << " in pieces of " << step;
        }
    }
}

TEST(MailCharset, LabelsNameTheirEncodingWhateverTheCaseAndSpace) {
    struct Case {
        const char* label;
        const char* encoding;
    } cases[] = {
        {"iso-8859-1", "windows-1252"},
        {"US-ASCII", "windows-1252"},
        {" latin1\t", "windows-1252"},
        {"utf8", "UTF-8"},
        {"gb2312", "GBK"},
        {"x-sjis", "Shift_JIS"},
        {"ks_c_5601-1987", "EUC-KR"},
        {"iso-8859-9", "windows-1254"},
        {"tis-620", "windows-874"},
        {"utf-16", "UTF-16LE"},
        {"iso-2022-kr", "replacement"},
        {"koi8-ru", "KOI8-U"},
        {"utf-7", ""},
        {"", ""},
        {"latin-1", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(EncodingForLabel(c.label), c.encoding) << c.label;
}

TEST(MailCharset, EveryEncodingOfTheTableDecodes) {
    for (std::size_t i = 0; i < EncodingCount(); ++i) {
        const std::string_view name = EncodingAt(i);
        EXPECT_EQ(EncodingForLabel(name), name) << "an encoding's own name is one of its labels";
        Text out;
        AppendDecoded("abc", 3, name, out);
        if (name == "replacement") {
            EXPECT_EQ(out, u"\uFFFD");
        } else if (name.substr(0, 6) == "UTF-16") {
            out.clear();
            AppendDecoded(name == "UTF-16LE" ? "a\0" : "\0a", 2, name, out);
            EXPECT_EQ(out, u"a") << name;
        } else {
            EXPECT_EQ(out, u"abc") << name;
            const std::string converter(ConverterForEncoding(name));
            if (!converter.empty()) {
                UErrorCode status = U_ZERO_ERROR;
                UConverter* cnv = ucnv_open(converter.c_str(), &status);
                EXPECT_TRUE(U_SUCCESS(status)) << name << " has no converter " << converter;
                if (cnv) ucnv_close(cnv);
            }
        }
    }
    Text out;
    AppendDecoded("a\x80\xff", 3, "x-user-defined", out);
    EXPECT_EQ(out, u"a\uF780\uF7FF");
    out.clear();
    AppendDecoded("\xa4 \xaa\xe9 \xfe", 6, "iso-8859-16", out);
    EXPECT_EQ(out, u"\u20AC \u0218\u00E9 \u021B");
}
