#include "results/export.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/shared_list.h"
#include "engine/text.h"
#include "results/views.h"
#include "support/temp_dir.h"

namespace corvexa::results {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;

const std::string kBom = "\xEF\xBB\xBF";

Text PathText(const fs::path& p) {
    return FromUtf8(p.string());
}

std::size_t OpenDescriptors() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// The bytes an export of these entries must hold.
std::string Expected(const std::vector<std::string>& lines) {
    std::string out = kBom;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

TEST(ExportList, WritesBomAndCrLfLines) {
    struct Case {
        const char* name;
        std::vector<Text> entries;
        std::string bytes;
    };
    Text longEntry(10000, u'x');  // more than the buffer holds
    std::vector<Text> many;
    std::vector<std::string> manyLines;
    for (int i = 0; i < 3000; ++i) {
        std::string line = "https://www.example.com/page" + std::to_string(i);
        many.push_back(FromUtf8(line));
        manyLines.push_back(line);
    }
    const std::vector<Case> cases = {
        {"empty list", {}, kBom},
        {"one entry", {u"a"}, kBom + "a\r\n"},
        {"several",
         {u"http://example.com/", u"joe@example.com", u"www.example.org"},
         Expected({"http://example.com/", "joe@example.com", "www.example.org"})},
        {"empty entries stay lines", {u"", u"x", u""}, kBom + "\r\nx\r\n\r\n"},
        {"non-ASCII",
         {u"http://bücher.example/straße", u"日本.example", u"\U0001F600"},
         Expected({"http://b\xC3\xBC"
                   "cher.example/stra\xC3\x9F"
                   "e",
                   "\xE6\x97\xA5\xE6\x9C\xAC.example", "\xF0\x9F\x98\x80"})},
        {"escaped raw bytes go out as those bytes",
         {u"caf\xDCE9", u"\xDCFF\xDC80"},
         kBom + "caf\xE9\r\n\xFF\x80\r\n"},
        {"a lone surrogate becomes U+FFFD",
         {u"a\xD800"
          u"b"},
         kBom + "a\xEF\xBF\xBD"
                "b\r\n"},
        {"an entry longer than the buffer",
         {longEntry, u"end"},
         kBom + std::string(10000, 'x') + "\r\nend\r\n"},
        {"many entries", many, Expected(manyLines)},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SharedList list;
        list.Assign(c.entries);
        fs::path file = dir.Path() / "out.txt";
        ExportList(list, PathText(file));
        EXPECT_TRUE(ReadFileBytes(file) == c.bytes);
        EXPECT_EQ(fs::file_size(file), c.bytes.size());
    }
}

TEST(ExportList, ReplacesAnExistingLongerFile) {
    TempDir dir;
    fs::path file = dir.Write("old.txt", std::string(20000, 'z'));
    SharedList list;
    list.Append(u"x");
    ExportList(list, PathText(file));
    EXPECT_EQ(ReadFileBytes(file), kBom + "x\r\n");
}

TEST(ExportList, FileNameWithRawBytes) {
    TempDir dir;
    SharedList list;
    list.Append(u"x");
    ExportList(list, PathText(dir.Path()) + u"/caf\xDCE9.txt");
    fs::path onDisk = dir.Path() / "caf\xE9.txt";  // the byte 0xE9, not UTF-8
    ASSERT_TRUE(fs::exists(onDisk));
    EXPECT_EQ(ReadFileBytes(onDisk), kBom + "x\r\n");
}

TEST(ExportList, ExportsTheListOfTheViewMode) {
    TempDir dir;
    ResultLists lists;
    lists.Urls().Assign({u"https://www.example.com/a", u"joe@mail.example.org"});
    lists.ShowHostnames();
    fs::path file = dir.Path() / "hosts.txt";
    ExportList(lists.Current(), PathText(file));
    EXPECT_EQ(ReadFileBytes(file), Expected({"www.example.com", "example.org"}));
}

TEST(ExportList, CreateFailuresCarryPathAndReason) {
    TempDir dir;
    struct Case {
        fs::path path;
        const char* reason;
    };
    const Case cases[] = {
        {dir.Path() / "missing" / "out.txt", "No such file or directory"},
        {dir.Path(), "Is a directory"},
    };
    SharedList list;
    list.Append(u"x");
    std::size_t fds = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        try {
            ExportList(list, PathText(c.path));
            ADD_FAILURE() << "no error";
        } catch (const ExportError& e) {
            std::string what = e.what();
            EXPECT_NE(what.find(c.path.string()), std::string::npos) << what;
            EXPECT_NE(what.find(c.reason), std::string::npos) << what;
        }
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "missing"));
    EXPECT_EQ(OpenDescriptors(), fds);
}

// A link in a folder like /tmp is written through only when we or the
// folder's owner made it: another user's link there could point at a file of
// ours. Making a link of another user takes root; elsewhere the case is skipped.
TEST(ExportList, ALinkAnotherUserPlantedInASharedFolderIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link another owner";
    struct Case {
        mode_t folderMode;
        uid_t linkOwner;
        bool followed;
    } cases[] = {
        {01777, 65534, false},  // planted in a shared sticky folder
        {01777, 0, true},       // our own link there
        {0755, 65534, true},    // a folder only its owner writes to
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.folderMode) + " " + std::to_string(c.linkOwner));
        TempDir dir;
        const fs::path shared = dir.Path() / "shared";
        fs::create_directory(shared);
        ASSERT_EQ(::chmod(shared.c_str(), c.folderMode), 0);
        const fs::path victim = dir.Write("victim.txt", "mine");
        const fs::path link = shared / "out.txt";
        fs::create_symlink(victim, link);
        ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
        SharedList list;
        list.Append(u"x");
        if (c.followed) {
            ExportList(list, PathText(link));
            EXPECT_EQ(ReadFileBytes(victim), Expected({"x"}));
        } else {
            try {
                ExportList(list, PathText(link));
                ADD_FAILURE() << "written through";
            } catch (const ExportError& e) {
                EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos);
            }
            EXPECT_EQ(ReadFileBytes(victim), "mine");
            EXPECT_TRUE(fs::is_symlink(link));
        }
    }
}

TEST(ExportList, FullDeviceFails) {
    std::vector<Text> many(5000, u"https://www.example.com/");
    for (const std::vector<Text>& entries : {std::vector<Text>{}, many}) {
        SCOPED_TRACE(entries.size());
        SharedList list;
        list.Assign(entries);
        std::size_t fds = OpenDescriptors();
        try {
            ExportList(list, u"/dev/full");
            ADD_FAILURE() << "no error";
        } catch (const ExportError& e) {
            std::string what = e.what();
            EXPECT_NE(what.find("/dev/full"), std::string::npos) << what;
            EXPECT_NE(what.find("No space left on device"), std::string::npos) << what;
        }
        EXPECT_EQ(OpenDescriptors(), fds);
    }
}

// A write that fails half-way leaves the previous export as it was, and no
// partial or temporary file beside it.
void ExpectPreviousExportKept(const fs::path& file, const std::string& reason,
                              const std::function<void()>& exportNow) {
    const std::string previous = kBom + "https://previous.example.com/\r\n";
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(previous.data(), 1, previous.size(), f);
        std::fclose(f);
    }
    try {
        exportNow();
        ADD_FAILURE() << "no error";
    } catch (const ExportError& e) {
        std::string what = e.what();
        EXPECT_NE(what.find(file.string()), std::string::npos) << what;
        EXPECT_NE(what.find(reason), std::string::npos) << what;
    }
    EXPECT_EQ(ReadFileBytes(file), previous);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file.parent_path()))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{file.filename().string()});
}

std::vector<Text> ManyEntries(int count, std::vector<std::string>& lines) {
    std::vector<Text> entries;
    for (int i = 0; i < count; ++i) {
        lines.push_back("https://www.example.com/item/" + std::to_string(i));
        entries.push_back(FromUtf8(lines.back()));
    }
    return entries;
}

TEST(ExportList, FileSizeLimitKeepsThePreviousExport) {
    std::vector<std::string> lines;
    SharedList list;
    list.Assign(ManyEntries(2000, lines));
    const std::string full = Expected(lines);
    TempDir dir;
    fs::path file = dir.Path() / "limited.txt";

    // Limits that are no multiple of the buffer make a write come back short
    // before the next one fails: half-way through, and in the final flush.
    const rlim_t limits[] = {10000, static_cast<rlim_t>(full.size() - 100)};
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    std::size_t fds = OpenDescriptors();
    for (rlim_t limit : limits) {
        SCOPED_TRACE(limit);
        struct rlimit lowered = saved;
        lowered.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        ExpectPreviousExportKept(file, "File too large", [&] { ExportList(list, PathText(file)); });
        setrlimit(RLIMIT_FSIZE, &saved);
    }
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST(ExportList, FullDiskKeepsThePreviousExport) {
    TempDir dir;
    fs::path mountPoint = dir.MakeDir("small");
    if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        fs::path p;
        ~Unmount() { umount2(p.c_str(), MNT_DETACH); }
    } unmount{mountPoint};

    std::vector<std::string> lines;
    SharedList list;
    list.Assign(ManyEntries(5000, lines));
    const std::string full = Expected(lines);
    ASSERT_GT(full.size(), 128u * 1024);
    fs::path file = mountPoint / "out.txt";
    ExpectPreviousExportKept(file, "No space left on device",
                             [&] { ExportList(list, PathText(file)); });
}

void IgnoreSignal(int) {}

// Entries appended while the export runs are written too: the length is read
// anew before each entry. The export goes into a pipe that this test drains,
// so it cannot get near the end of the list before the test appends. While
// the export waits for the full pipe, signals interrupt its writes, which it
// must resume.
TEST(ExportList, IncludesEntriesAppendedMeanwhile) {
    SharedList list;
    std::vector<std::string> expected;
    for (int i = 0; i < 20000; ++i) {  // about 1 MB, far more than a pipe holds
        expected.push_back("https://www.example.com/first/" + std::to_string(i));
        list.Append(FromUtf8(expected.back()));
    }
    TempDir dir;
    fs::path fifo = dir.Path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    struct sigaction interrupt = {};
    interrupt.sa_handler = IgnoreSignal;  // no SA_RESTART: a blocked write fails with EINTR
    sigemptyset(&interrupt.sa_mask);
    struct sigaction savedAction;
    ASSERT_EQ(sigaction(SIGUSR1, &interrupt, &savedAction), 0);

    std::exception_ptr error;
    std::thread exporter([&] {
        try {
            ExportList(list, PathText(fifo));
        } catch (...) {
            error = std::current_exception();
        }
    });
    int fd = open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    // Wait until the pipe is nearly full, so the export blocks in a write.
    int queued = 0;
    for (int i = 0; i < 10000 && queued < 60000; ++i) {
        ASSERT_EQ(ioctl(fd, FIONREAD, &queued), 0);
        if (queued < 60000) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(queued, 60000);
    for (int i = 0; i < 5; ++i) {
        pthread_kill(exporter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }

    for (int i = 0; i < 100; ++i) {
        expected.push_back("later " + std::to_string(i));
        list.Append(FromUtf8(expected.back()));
    }
    std::string bytes;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    exporter.join();
    sigaction(SIGUSR1, &savedAction, nullptr);
    if (error) std::rethrow_exception(error);

    EXPECT_TRUE(bytes == Expected(expected)) << bytes.size() << " bytes";
}

}  // namespace
}  // namespace corvexa::results
