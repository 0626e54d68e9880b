// Reading a list of files.

#include "engine/file_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "engine/readers/text_reader.h"
#include "engine/shared_list.h"
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
        {"utf-8 mark",
         "\xEF\xBB\xBF/a/caf\xC3\xA9\r\n\r\n /b \r\n",
         {u"/a/caf\u00e9", u"", u" /b "}},
        {"utf-8 mark, a name that is not utf-8",
         "\xEF\xBB\xBF/a/caf\xE9\n/a/\xC3\xA9",
         {u"/a/caf\xDCE9", u"/a/\u00e9"}},
        {"no mark, valid utf-8 (find > list)",
         "/x/\xE6\x97\xA5\xE6\x9C\xAC.txt\n/y",
         {u"/x/\u65e5\u672c.txt", u"/y"}},
        // Each line alone: one Latin-1 name keeps its bytes, the UTF-8 names
        // around it stay UTF-8.
        {"no mark, one line not utf-8",
         "/a/caf\xE9.txt\r/b/\xC3\xA9\n/c",
         {u"/a/caf\xDCE9.txt", u"/b/\u00e9", u"/c"}},
        {"utf-8 and a stray byte on one line", "/d/\xC3\xA9\xE9", {u"/d/\u00e9\xDCE9"}},
        {"utf-16le", std::string("\xFF\xFE/\0a\0\n\0\n\0", 10), {u"/a", u""}},
        {"utf-16be", std::string("\xFE\xFF\0/\0b\0\r", 8), {u"/b"}},
        {"empty", "", {}},
        {"the mark alone", "\xEF\xBB\xBF", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseFileList(c.bytes), c.entries);
        // The command line's form: the same entries without the empty ones.
        List nonEmpty;
        for (const Text& e : c.entries)
            if (!e.empty()) nonEmpty.push_back(e);
        EXPECT_EQ(ParseFileList(c.bytes, EmptyLines::Skip), nonEmpty);
    }
}

TEST(FileList, OnlyRegularFilesAreRead) {
    test::TempDir dir;
    const std::string fifo = dir.Path().string() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(LoadFileList(platform::PathFromNative(fifo)), ReadError);  // never waits
    EXPECT_THROW(LoadFileList(platform::PathFromNative(dir.Path().string())), ReadError);
    EXPECT_THROW(LoadFileList(u"/no/such/list.txt"), ReadError);
}

// The command line reads lists from pipes and standard input as well.
TEST(FileList, TheCommandLineReadsAPipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string bytes = "/p/\xC3\xA9\n\n/q/\xE9\n";
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    EXPECT_EQ(ReadFileListArgument("/dev/fd/" + std::to_string(fds[0])),
              (List{u"/p/\u00e9", u"/q/\xDCE9"}));
    ::close(fds[0]);
    EXPECT_THROW(ReadFileListArgument("/no/such/list.txt"), ReadError);
}

// A list read a piece at a time gives the names of the whole list read at
// once, wherever its pieces end: a line break split between two reads, a mark
// at the start (and the same bytes at the start of a later piece, a name's),
// UTF-16, bytes that are not UTF-8, a line longer than any read, no final
// break. From a file, and from a pipe written a little at a time.
TEST(FileList, AStreamedListGivesTheNamesOfTheWholeList) {
    auto lines = [](std::size_t count, std::size_t width, const std::string& end) {
        std::string s;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string n = "/d/" + std::to_string(i) + "/";
            s += n + std::string(width > n.size() ? width - n.size() : 0, 'x') + end;
        }
        return s;
    };
    std::string utf16 = "\xFF\xFE";
    for (char c : lines(700, 20, "\r\n") + "/\xE4") utf16 += std::string{c, '\0'};
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"short, no break", "ab"},
        {"only breaks", "\n\r\n\r"},
        {"CR LF across the first read's end",
         std::string(8191, 'a') + "\r\n" + lines(5000, 30, "\r\n")},
        {"CR alone at reads' ends", lines(9000, 15, "\r")},
        {"mark, then a name that starts with the mark's bytes after the first read",
         "\xEF\xBB\xBF" + std::string(8188, 'b') + "\n\xEF\xBB\xBF/named\n" + lines(3000, 9, "\n")},
        {"not UTF-8 and empty lines", lines(2000, 12, "\n\n") + "/\xE9\xFF\n" + lines(5, 3, "\n")},
        {"a line longer than any read", lines(3, 10, "\n") + std::string(600000, 'L') + "\n/z"},
        {"UTF-16", utf16},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.Write("list.txt", c.bytes).string();
        const List whole = ReadFileListArgument(path);
        auto streamed = [](const std::string& argument) {
            FileListStream stream(argument);
            List all, piece;
            while (stream.Next(piece)) all.insert(all.end(), piece.begin(), piece.end());
            EXPECT_FALSE(stream.Next(piece));
            EXPECT_TRUE(piece.empty());
            return all;
        };
        EXPECT_EQ(streamed(path), whole);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::thread writer([&] {
            for (std::size_t at = 0; at < c.bytes.size(); at += 1000) {
                const std::size_t n = std::min<std::size_t>(1000, c.bytes.size() - at);
                if (::write(fds[1], c.bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
            }
            ::close(fds[1]);
        });
        EXPECT_EQ(streamed("/dev/fd/" + std::to_string(fds[0])), whole);
        writer.join();
        ::close(fds[0]);
    }
    EXPECT_THROW(FileListStream("/no/such/list.txt"), ReadError);
}

}  // namespace
}  // namespace corvexa
