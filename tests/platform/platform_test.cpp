// The platform layer: the ANSI code page a locale implies, and file names that
// travel as text without loss.
#include <gtest/gtest.h>

#include "platform/ansi_codepage.h"
#include "platform/native_path.h"
#include "platform/utf8.h"

using namespace corvexa::platform;

TEST(AnsiCodePage, ByLocale) {
    struct Case {
        const char* locale;
        int codePage;
    } cases[] = {
        {"C", 1252},           {"POSIX", 1252},       {"en_US.UTF-8", 1252}, {"de_DE", 1252},
        {"pl_PL.UTF-8", 1250}, {"cs_CZ", 1250},       {"ru_RU.UTF-8", 1251}, {"uk_UA", 1251},
        {"sr_RS", 1251},       {"sr_RS@latin", 1250}, {"el_GR", 1253},       {"tr_TR", 1254},
        {"he_IL", 1255},       {"ar_EG", 1256},       {"fa_IR", 1256},       {"lt_LT", 1257},
        {"vi_VN", 1258},       {"th_TH", 874},        {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936},
        {"zh_SG", 936},        {"zh_TW.UTF-8", 950},  {"zh_HK", 950},        {"ko_KR.EUC-KR", 949},
    };
    for (const Case& c : cases) EXPECT_EQ(AnsiCodePageForLocale(c.locale), c.codePage) << c.locale;
}

TEST(NativePath, EveryByteSequenceRoundTrips) {
    const std::string names[] = {
        "/plain/ascii.txt",
        "/caf\xC3\xA9/\xE2\x82\xAC.txt",
        "/emoji/\xF0\x9F\x98\x80",
        "/latin1/caf\xE9.txt",
        "/bad/\xFF\xFE\x80",
        "/overlong/\xC0\xAF",
        "/surrogate/\xED\xA0\x80",
        "/truncated/\xE2\x82",
        std::string("/all/") + "\x01\x7F\x80\xBF\xC2\xF4\x90",
    };
    for (const std::string& n : names) {
        EXPECT_EQ(NativeFromPath(PathFromNative(n)), n) << n;
        // ASCII is narrowed eight units at a time: the rest at every place.
        for (std::size_t pad = 1; pad < 18; ++pad) {
            const std::string padded = std::string(pad, 'p') + n;
            EXPECT_EQ(NativeFromPath(PathFromNative(padded)), padded) << padded;
        }
    }
    EXPECT_EQ(PathFromNative("caf\xC3\xA9"), u"caf\u00E9");
    EXPECT_EQ(PathFromNative("caf\xE9"), u"caf\xDCE9");
    // A surrogate that does not stand for a raw byte cannot be a file name byte.
    EXPECT_EQ(NativeFromPath(u"\xD800x"), "\xEF\xBF\xBDx");
}

// The one check of well-formed UTF-8 that the settings file, the file lists
// and the mail charsets share.
TEST(Utf8, IsValidRefusesEveryIllFormedSequence) {
    struct Case {
        std::string_view bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xC3\xA9t\xC3\xA9", true},  // 2 bytes
        {"\xE2\x82\xAC", true},       // 3 bytes
        {"\xF0\x9F\x98\x80", true},   // 4 bytes
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC0\x80", false},          // overlong 2
        {"\xE0\x80\xAF", false},      // overlong 3
        {"\xF0\x80\x80\xAF", false},  // overlong 4
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE2\x82", false},          // cut off at the end
        {"a\x80z", false},            // lone continuation
        {"\xFF", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(corvexa::utf8::IsValid(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}
