#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvexa::test {

// A fresh folder under the system temp folder, removed with everything in it
// when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Writes bytes to a file below the folder (creating folders on the way) and
    // returns its full path.
    std::filesystem::path Write(const std::string& relative, std::string_view bytes) const;
    std::filesystem::path MakeDir(const std::string& relative) const;

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& p);

}  // namespace corvexa::test
