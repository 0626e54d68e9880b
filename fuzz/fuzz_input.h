#pragma once

// Helpers the fuzz targets share: turning the fuzzer's bytes into texts that
// reach the interesting paths, a private folder that goes with the process,
// and an oracle failure that libFuzzer reports.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/text.h"
#include "platform/private_folder.h"

namespace corvexa::fuzz {

// ASCII bytes stay themselves; every other byte becomes one of a few code
// units that have tripped text code before: non-breaking and ideographic
// space, full-width and ideographic stops, lone surrogates, letters whose case
// mapping changes their length, the byte-order mark, U+FFFF, U+0000.
inline Text TextFromBytes(std::string_view bytes) {
    static constexpr char16_t kOthers[16] = {0x00A0, 0x3000, 0xFF0E, 0x3002, 0xD800, 0xDC00,
                                             0xD83D, 0xDE00, 0x0130, 0x0131, 0x212A, 0x00DF,
                                             0xFEFF, 0xFFFF, 0x0000, 0x00E9};
    Text t;
    t.reserve(bytes.size());
    for (unsigned char c : bytes) t.push_back(c < 0x80 ? char16_t(c) : kOthers[c & 15]);
    return t;
}

// The input cut at every separator byte.
inline std::vector<std::string_view> Split(std::string_view bytes, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == separator) {
            parts.push_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// This process's private folder, once made. It is a static, so it goes with
// everything in it when the process ends through exit() (as libFuzzer ends
// after -runs or -max_total_time) or returns from main (the replay runner).
inline std::optional<platform::PrivateFolder>& ProcessFolder() {
    static std::optional<platform::PrivateFolder> folder;
    return folder;
}

// A private 0700 folder for the files a target writes: one per process, made
// on first use. Its name tells a later start whether this process still runs,
// so one left by a run that was killed is swept then.
inline const platform::PrivateFolder& PrivateFolder() {
    std::optional<platform::PrivateFolder>& folder = ProcessFolder();
    if (!folder) folder.emplace("corvexa-fuzz-");
    return *folder;
}

// An oracle disagreed: say what, then abort so libFuzzer keeps the input. The
// private folder goes first, as abort() runs no destructors.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "oracle: %s\n%s\n", what, detail.c_str());
    ProcessFolder().reset();
    std::abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = {}) {
    if (!ok) Fail(what, detail);
}

}  // namespace corvexa::fuzz
