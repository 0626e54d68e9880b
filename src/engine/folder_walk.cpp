#include "engine/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/byte_source.h"
#include "platform/native_path.h"

namespace corvexa {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

struct Entry {
    std::string name;
    unsigned char type;
};

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderId&) const = default;
};
struct FolderIdHash {
    std::size_t operator()(const FolderId& id) const {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.ino) *
                                              0x9E3779B97F4A7C15ull ^
                                          static_cast<std::uint64_t>(id.dev));
    }
};

// One open folder of the walk's current chain.
struct Level {
    int fd = -1;       // -1 while a deep level's subfolder is walked
    std::string name;  // relative to the parent level
    FolderId id{};
    std::size_t prefixLength;    // of the walk's path text, separator included
    std::vector<Entry> entries;  // read whole, so the folder's stream can close
    std::size_t next = 0;
};

// Reads every entry of the folder open at fd ("." and ".." left out).
bool ReadEntries(int fd, std::vector<Entry>& out) {
    int own = ::dup(fd);
    if (own < 0) return false;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return false;
    }
    ::rewinddir(dir);
    while (struct dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        out.push_back(Entry{n, e->d_type});
    }
    ::closedir(dir);
    return true;
}

class Walk {
public:
    Walk(const std::function<bool()>& stopping, const std::function<void(const Text&)>& onFile)
        : stopping_(stopping), onFile_(onFile) {}
    ~Walk() {
        for (Level& l : levels_)
            if (l.fd >= 0) ::close(l.fd);
    }

    void Run(const Text& folder, bool recurse);

private:
    bool Enter(int fd, std::string name);
    bool Reopen(std::size_t index);
    void Step(bool recurse);

    const std::function<bool()>& stopping_;
    const std::function<void(const Text&)>& onFile_;
    std::vector<Level> levels_;
    std::unordered_set<FolderId, FolderIdHash> visited_;
    Text path_;
    dev_t rootDev_ = 0;
    bool rootPseudo_ = false;
};

// Pushes the folder open at fd unless it was entered before; takes fd.
bool Walk::Enter(int fd, std::string name) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !visited_.insert(FolderId{st.st_dev, st.st_ino}).second) {
        ::close(fd);
        return false;
    }
    if (levels_.empty()) {
        rootDev_ = st.st_dev;
        rootPseudo_ = IsOnPseudoFileSystem(fd);
    } else if (st.st_dev != rootDev_ && st.st_dev != levels_.back().id.dev &&
               IsOnPseudoFileSystem(fd)) {
        // A pseudo file system met on the way (/proc, /sys from "/").
        ::close(fd);
        return false;
    }
    Level level;
    level.fd = fd;
    level.name = std::move(name);
    level.id = FolderId{st.st_dev, st.st_ino};
    if (!ReadEntries(fd, level.entries)) level.entries.clear();
    if (!levels_.empty()) {
        path_ += platform::PathFromNative(level.name);
        path_ += platform::kPathSeparator;
    }
    level.prefixLength = path_.size();
    levels_.push_back(std::move(level));
    return true;
}

// Opens the level again from the nearest level above that holds a descriptor,
// and checks that it is still the same folder.
bool Walk::Reopen(std::size_t index) {
    std::size_t from = index;
    while (levels_[from].fd < 0) --from;  // level 0 always holds one
    int fd = levels_[from].fd;
    for (std::size_t i = from + 1; i <= index; ++i) {
        int sub = ::openat(fd, levels_[i].name.c_str(), kFolderFlags);
        if (fd != levels_[from].fd) ::close(fd);
        if (sub < 0) return false;
        fd = sub;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(FolderId{st.st_dev, st.st_ino} == levels_[index].id)) {
        ::close(fd);
        return false;
    }
    levels_[index].fd = fd;
    return true;
}

// Handles the next entry of the deepest level, or leaves that level.
void Walk::Step(bool recurse) {
    Level& top = levels_.back();
    if (top.fd < 0 && top.next < top.entries.size() && !Reopen(levels_.size() - 1))
        top.next = top.entries.size();
    if (top.next == top.entries.size()) {
        if (top.fd >= 0) ::close(top.fd);
        path_.resize(levels_.size() > 1 ? levels_[levels_.size() - 2].prefixLength : 0);
        levels_.pop_back();
        return;
    }
    const Entry& entry = top.entries[top.next++];
    const bool pseudo = rootPseudo_ && top.id.dev == rootDev_;
    bool isFolder = entry.type == DT_DIR;
    if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
        struct stat st;
        isFolder = ::fstatat(top.fd, entry.name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
        // Inside a pseudo file system, links to folders are neither entered
        // nor listed.
        if (isFolder && pseudo && entry.type == DT_LNK) return;
    }
    if (!isFolder) {
        path_.resize(top.prefixLength);
        path_ += platform::PathFromNative(entry.name);
        onFile_(path_);
        path_.resize(top.prefixLength);
        return;
    }
    if (!recurse || stopping_()) return;
    int fd = ::openat(top.fd, entry.name.c_str(), kFolderFlags);
    if (fd < 0) return;  // a folder that cannot be opened contributes nothing
    path_.resize(top.prefixLength);
    const std::size_t parent = levels_.size() - 1;
    std::string name = entry.name;
    if (Enter(fd, std::move(name)) && parent >= FolderWalk::kHeldLevels) {
        ::close(levels_[parent].fd);
        levels_[parent].fd = -1;
    }
}

void Walk::Run(const Text& folder, bool recurse) {
    if (stopping_()) return;
    std::string native = platform::NativeFromPath(folder);
    if (native.empty()) return;
    int fd = platform::OpenNative(native, kFolderFlags);
    if (fd < 0) return;
    path_ = folder;
    if (path_.back() != platform::kPathSeparator) path_ += platform::kPathSeparator;
    if (!Enter(fd, std::string())) return;
    while (!levels_.empty()) Step(recurse);
}

}  // namespace

void FolderWalk::Run(const Text& folder, bool recurse, const std::function<bool()>& stopping,
                     const std::function<void(const Text&)>& onFile) {
    Walk walk(stopping, onFile);
    walk.Run(folder, recurse);
}

}  // namespace corvexa
