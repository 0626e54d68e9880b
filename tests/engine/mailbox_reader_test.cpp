// Mailboxes: an mbox cut into messages (escaped "From " lines, a base64 body,
// an over-long message), an empty file and one without "From " lines, and a
// Maildir's messages; through the splitter and through the collector.
#include "engine/readers/mailbox_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/collector.h"
#include "support/empty_sink.h"
#include "support/temp_dir.h"

using namespace corvexa;
using corvexa::test::TempDir;

namespace {

const char* kMbox =
    "From alice@env.example Thu Dec 10 10:00:00 2026\n"
    "From: alice@from.example\n"
    "Subject: one\n"
    "\n"
    ">From the start, write http://escaped.example/\n"
    ">>From here too\n"
    "\n"
    "From bob@env.example Thu Dec 10 11:00:00 2026\n"
    "From: bob@from.example\n"
    "Content-Type: text/plain\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    // "carol@body.example\n"
    "Y2Fyb2xAYm9keS5leGFtcGxlCg==\n";

std::map<std::uint64_t, std::string> Split(std::string_view bytes, std::size_t max,
                                           std::vector<std::uint64_t>* tooLong = nullptr) {
    std::map<std::uint64_t, std::string> out;
    std::atomic<bool> stop{false};
    MemorySource source(bytes);
    ReadMbox(
        source, max, [&](std::uint64_t n, std::string_view m) { out[n] = std::string(m); },
        [&](std::uint64_t n) {
            if (tooLong) tooLong->push_back(n);
        },
        stop);
    return out;
}

TEST(Mbox, MessagesAreCutAtFromLinesAndUnescaped) {
    auto messages = Split(kMbox, 1 << 20);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1],
              "From: alice@from.example\nSubject: one\n\n"
              "From the start, write http://escaped.example/\n>From here too\n\n");
    EXPECT_EQ(messages[2].substr(0, 24), "From: bob@from.example\nC");

    // A message longer than the limit is named, the others still come.
    std::vector<std::uint64_t> tooLong;
    auto some = Split(kMbox, 105, &tooLong);  // the first has 101 bytes, the second 112
    EXPECT_EQ(tooLong, std::vector<std::uint64_t>{2});
    EXPECT_EQ(some.count(1), 1u);
    EXPECT_EQ(some.count(2), 0u);

    // No mbox: empty, or not starting with "From ".
    for (std::string_view bytes : {std::string_view(""), std::string_view("hello\nFrom x\n")}) {
        std::atomic<bool> stop{false};
        MemorySource source(bytes);
        EXPECT_EQ(ReadMbox(
                      source, 100, [](std::uint64_t, std::string_view) { FAIL(); },
                      [](std::uint64_t) { FAIL(); }, stop),
                  0u);
    }
    EXPECT_TRUE(IsMboxName("/var/mail/Inbox.MBOX"));
    EXPECT_TRUE(IsMboxName("x/mbox"));
    EXPECT_FALSE(IsMboxName("x/mbox.txt"));
    EXPECT_TRUE(IsMaildirMessage("Maildir/cur/1.host:2,S"));
    EXPECT_FALSE(IsMaildirMessage("Maildir/tmp/1.host"));
}

struct NullSink : test::EmptySink {
    void FileFailed(const Text&, const std::string& why) override { failed.push_back(why); }
    std::vector<std::string> failed;
};

std::vector<std::string> Scan(const std::vector<std::string>& paths, bool mailboxes,
                              NullSink& sink) {
    ScanJob job;
    job.Mode = ScanMode::FileList;
    job.Mailboxes = mailboxes;
    ScanControl control;
    SharedList files, urls;
    std::vector<Text> list;
    for (const auto& p : paths) list.push_back(FromUtf8(p));
    files.Assign(list);
    TCollector collector(job, files, urls, control, sink);
    collector.CollectNow();
    std::vector<std::string> out;
    for (const Text& t : urls.Snapshot()) out.push_back(ToUtf8(t));
    return out;
}

TEST(Mbox, CollectorDecodesEachMessageOnlyWithTheSwitch) {
    TempDir dir;
    const std::string box = dir.Write("in.mbox", kMbox).string();
    const std::string empty = dir.Write("empty.mbox", "").string();
    const std::string plain = dir.Write("notes.mbox", "see http://plain.example/\n").string();
    const std::string maildir =
        dir.Write("Maildir/new/1.host",
                  "From: dave@from.example\nContent-Transfer-Encoding: base64\n\n"
                  // "erin@body.example\n"
                  "ZXJpbkBib2R5LmV4YW1wbGUK\n")
            .string();
    NullSink sink;
    EXPECT_EQ(
        Scan({box, empty, plain, maildir}, true, sink),
        (std::vector<std::string>{// Message 1: decoded, then as it is.
                                  "http://escaped.example/", "alice@from.example",
                                  "alice@from.example", "http://escaped.example/",
                                  // Message 2: the base64 body only when decoded.
                                  "carol@body.example", "bob@from.example", "bob@from.example",
                                  "http://plain.example/", "erin@body.example", "dave@from.example",
                                  "dave@from.example"}));
    EXPECT_TRUE(sink.failed.empty());
    NullSink off;
    EXPECT_EQ(Scan({box, maildir}, false, off),
              (std::vector<std::string>{"alice@env.example", "alice@from.example",
                                        "http://escaped.example/", "bob@env.example",
                                        "bob@from.example", "dave@from.example"}));
}

}  // namespace
