// A files list exported by the program loads back to the same files.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/file_list.h"
#include "engine/shared_list.h"
#include "platform/native_path.h"
#include "results/export.h"
#include "support/temp_dir.h"

namespace corvexa {
namespace {

// A name that is not UTF-8 leaves in an export as its bytes and comes back as
// the same name, which opens the same file.
TEST(FileList, ExportedListsLoadBackToTheSameFiles) {
    test::TempDir dir;
    const std::string folder = dir.Path().string() + "/";
    const std::vector<std::string> names = {folder + "plain.txt", folder + "caf\xE9.txt",
                                            folder + "\xE6\x97\xA5.txt", folder + "b\xFF\xFE.txt"};
    SharedList files;
    for (const std::string& n : names) {
        dir.Write(n.substr(folder.size()), "x");
        files.Append(platform::PathFromNative(n));
    }
    const Text listPath = platform::PathFromNative(folder + "list.txt");
    results::ExportList(files, listPath);
    const std::vector<Text> loaded = LoadFileList(listPath);
    ASSERT_EQ(loaded.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(platform::NativeFromPath(loaded[i]), names[i]);
        struct stat st;
        EXPECT_EQ(::stat(platform::NativeFromPath(loaded[i]).c_str(), &st), 0) << names[i];
    }
}

}  // namespace
}  // namespace corvexa
