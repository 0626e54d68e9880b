#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvexa::platform {

// The permission bits a new file gets from this process's umask, read without
// changing it (umask() would, for a moment, for every thread).
mode_t NewFileMode();

// A file written in place of another. The bytes go to a new temporary file
// ".<name>.XXXXXX" beside the target, created exclusively and never through a
// link; Commit() puts it on the disk and renames it over the target, which
// replaces a link of the target's name instead of writing where it leads.
// Until then the target is as it was, and on every other way out the
// temporary file is removed.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file with the given permission bits. False with
    // errno set (EISDIR when the target is a folder).
    bool Open(const std::string& target, mode_t mode);
    // The temporary file's descriptor while open; -1 otherwise.
    int Fd() const { return fd_; }
    // Syncs, closes and renames the temporary file over the target. False
    // with errno set; the target is then unchanged.
    bool Commit();

private:
    void Discard();

    std::string target_;
    std::string temp_;
    int fd_ = -1;
};

// Replaces the target's content with bytes through a ReplacementFile. False
// with errno set; the target is then unchanged.
bool ReplaceFileWith(const std::string& target, std::string_view bytes, mode_t mode);

}  // namespace corvexa::platform
