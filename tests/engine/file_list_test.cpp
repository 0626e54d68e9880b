// Reading a list of files.

#include "engine/file_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/shared_list.h"
#include "engine/readers/text_reader.h"
#include "platform/native_path.h"
#include "support/temp_dir.h"

namespace corvexa {
namespace {

using List = std::vector<Text>;

TEST(FileList, EncodingsAndLines) {
    struct Case {
        const char* name;
        std::string bytes;
        List entries;
    };
    const Case cases[] = {
        {"utf-8 mark", "\xEF\xBB\xBF/a/caf\xC3\xA9\r\n\r\n /b \r\n", {u"/a/caf\u00e9", u"", u" /b "}},
        {"utf-8 mark, a name that is not utf-8", "\xEF\xBB\xBF/a/caf\xE9\n/a/\xC3\xA9", {u"/a/caf\xDCE9", u"/a/\u00e9"}},
        {"no mark, valid utf-8 (find > list)", "/x/\xE6\x97\xA5\xE6\x9C\xAC.txt\n/y", {u"/x/\u65e5\u672c.txt", u"/y"}},
        {"no mark, not utf-8: ansi", "/a/caf\xE9.txt\r/b", {u"/a/caf\u00e9.txt", u"/b"}},
        {"utf-16le", std::string("\xFF\xFE/\0a\0\n\0\n\0", 10), {u"/a", u""}},
        {"utf-16be", std::string("\xFE\xFF\0/\0b\0\r", 8), {u"/b"}},
        {"empty", "", {}},
        {"the mark alone", "\xEF\xBB\xBF", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseFileList(c.bytes, 1252), c.entries);
    }
}

TEST(FileList, OnlyRegularFilesAreRead) {
    test::TempDir dir;
    const std::string fifo = dir.Path().string() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(LoadFileList(platform::PathFromNative(fifo), 1252), ReadError);  // never waits
    EXPECT_THROW(LoadFileList(platform::PathFromNative(dir.Path().string()), 1252), ReadError);
    EXPECT_THROW(LoadFileList(u"/no/such/list.txt", 1252), ReadError);
}

}  // namespace
}  // namespace corvexa
