#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace corvexa::platform {

namespace {

bool UsableFolder(const char* path) {
    struct stat st;
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(path, W_OK | X_OK) == 0;
}

}  // namespace

std::string PrivateFolderBase() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (UsableFolder(runtime)) return runtime;
    return TemporaryFolderBase();
}

std::string TemporaryFolderBase() {
    const char* tmp = std::getenv("TMPDIR");
    return UsableFolder(tmp) ? std::string(tmp) : std::string("/tmp");
}

PrivateFolder::PrivateFolder(const std::string& prefix, const std::string& base) {
    std::string pattern = base + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(),
                                "cannot create a private folder in " + base);
    path_ = std::move(pattern);
}

PrivateFolder::~PrivateFolder() {
    // remove_all removes links themselves and never follows them.
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int PrivateFolder::CreateFile(const std::string& name) const {
    return ::open(Inside(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

}  // namespace corvexa::platform
