// Compressed files, archives and mailboxes. The first byte chooses the reader
// (even: archive, odd: mbox); the rest is the file. Members and messages stay
// within their limits and keep their places under the container's.
#include <atomic>
#include <string>

#include "engine/byte_source.h"
#include "engine/readers/archive_reader.h"
#include "engine/readers/mailbox_reader.h"
#include "fuzz_input.h"

using namespace corvexa;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1 << 16)) return 0;
    std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::atomic<bool> stop{false};
    MemorySource source(in);
    if (data[0] % 2 == 0) {
        ArchiveLimits limits;
        limits.memberBytes = 1 << 20;
        limits.totalBytes = 4 << 20;
        std::uint64_t total = 0;
        std::vector<ArchiveFailure> failures;
        ReadArchive(
            source, "in", limits,
            [&](const std::string& place, std::string_view bytes) {
                fuzz::Check(bytes.size() <= limits.memberBytes, "a member past its limit", place);
                fuzz::Check(place.rfind("in//", 0) == 0, "a member outside its container", place);
                total += bytes.size();
            },
            failures, stop);
        // Bytes of an archive that failed part way are handed over too, once.
        fuzz::Check(total <= 2 * limits.totalBytes, "more unpacked than the limit allows");
    } else {
        constexpr std::size_t kMax = 4096;
        std::uint64_t seen = 0;
        const std::uint64_t count = ReadMbox(
            source, kMax,
            [&](std::uint64_t n, std::string_view message) {
                fuzz::Check(message.size() <= kMax, "a message past its limit");
                fuzz::Check(n == ++seen, "messages out of order");
            },
            [&](std::uint64_t n) { fuzz::Check(n == ++seen, "messages out of order"); }, stop);
        fuzz::Check(count == seen, "a message neither handed over nor named");
    }
    return 0;
}
