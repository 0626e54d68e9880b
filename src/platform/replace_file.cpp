#include "platform/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fd_io.h"

namespace corvexa::platform {

mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[128];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "Umask:", 6) == 0)
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
        std::fclose(f);
    }
    return static_cast<mode_t>(0666 & ~mask);
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

// Leaves errno as it was: it tells why the file is being discarded.
void ReplacementFile::Discard() {
    const int why = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    errno = why;
}

bool ReplacementFile::Open(const std::string& target, mode_t mode) {
    Discard();
    target_ = target;
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    // mkostemp creates with O_EXCL, which also refuses a link of that name.
    std::string pattern = folder + "." + name + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) {
        // Name the reason the target itself would give ("Is a directory").
        const int why = errno;
        struct stat st {};
        errno = ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? EISDIR : why;
        return false;
    }
    temp_ = std::move(pattern);
    if (::fchmod(fd_, mode) != 0) {
        Discard();
        return false;
    }
    return true;
}

bool ReplacementFile::Commit() {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    bool ok = ::fsync(fd_) == 0 || errno == EINVAL;
    int why = errno;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR && ok) {
        ok = false;
        why = errno;
    }
    if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (ok) temp_.clear();
    Discard();
    errno = why;
    return ok;
}

bool ReplaceFileWith(const std::string& target, std::string_view bytes, mode_t mode) {
    ReplacementFile file;
    return file.Open(target, mode) && WriteFull(file.Fd(), bytes.data(), bytes.size()) &&
           file.Commit();
}

}  // namespace corvexa::platform
