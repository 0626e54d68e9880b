// The file-list reader (as corvexa-scan takes it) on arbitrary bytes. A list without a UTF-16
// mark holds the non-empty lines; written out again with LF it reads back the same.
#include "engine/file_list.h"
#include "fuzz_input.h"
#include "platform/native_path.h"

using namespace corvexa;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<Text> list = ParseFileList(bytes, EmptyLines::Skip);
    for (const Text& entry : list) fuzz::Check(!entry.empty(), "an empty entry");
    const bool utf16 =
        size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
    const bool utf8Mark = size >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
    if (utf16 && !utf8Mark) return 0;
    std::size_t lines = 0;
    for (std::string_view part : fuzz::Split(bytes.substr(utf8Mark ? 3 : 0), '\n'))
        for (std::string_view piece : fuzz::Split(part, '\r')) lines += piece.empty() ? 0 : 1;
    fuzz::Check(list.size() == lines, "entries are not the non-empty lines");
    std::string again = "\xEF\xBB\xBF";
    for (const Text& entry : list) again += platform::NativeFromPath(entry) + "\n";
    fuzz::Check(ParseFileList(again, EmptyLines::Skip) == list,
                "the list does not read back the same");
    return 0;
}
