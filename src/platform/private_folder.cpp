#include "platform/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>

namespace corvexa::platform {

namespace {

// The start time of a process (clock ticks after boot, from /proc), which
// with its id names it uniquely; zero when there is no such process.
unsigned long long StartTime(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    // The command name may hold spaces and parentheses: fields follow the last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    // State is field 3 and the start time field 22.
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return 0;
    return std::strtoull(field.c_str(), nullptr, 10);
}

// Reads a decimal number ending at '-' from the name; false when it is not one.
bool TakeNumber(const std::string& name, std::size_t& at, unsigned long long& value) {
    const std::size_t dash = name.find('-', at);
    if (dash == std::string::npos || dash == at || dash - at > 20) return false;
    value = 0;
    for (std::size_t i = at; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(name[i] - '0');
    }
    at = dash + 1;
    return true;
}

// True when the name is one of ours and the process it names has ended.
bool MakerIsGone(const std::string& name) {
    constexpr std::string_view kOurs = "corvexa-";
    if (name.compare(0, kOurs.size(), kOurs) != 0) return false;
    std::size_t at = kOurs.size();
    // The prefix's words: lower-case letters, each followed by '-'.
    for (;;) {
        std::size_t end = at;
        while (end < name.size() && name[end] >= 'a' && name[end] <= 'z') ++end;
        if (end == at || end >= name.size() || name[end] != '-') break;
        at = end + 1;
    }
    unsigned long long pid = 0, start = 0;
    if (!TakeNumber(name, at, pid) || !TakeNumber(name, at, start)) return false;
    if (name.size() - at != 6 || pid == 0 || pid > 0x7fffffffULL) return false;
    return StartTime(static_cast<long>(pid)) != start;
}

// Where a folder keeps its notes of sockets outside it, one path a line.
constexpr const char* kOutsideNotes = "outside-sockets";

// The sockets noted in the folder (at most the first 64 KiB of notes).
std::vector<std::string> NotedSockets(int baseFd, const std::string& folder) {
    std::vector<std::string> paths;
    const int dirFd =
        ::openat(baseFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) return paths;
    const int fd = ::openat(dirFd, kOutsideNotes, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ::close(dirFd);
    if (fd < 0) return paths;
    std::string text(64 * 1024, '\0');
    std::size_t size = 0;
    ssize_t n = 0;
    while (size < text.size() && (n = ::read(fd, &text[size], text.size() - size)) > 0)
        size += static_cast<std::size_t>(n);
    ::close(fd);
    text.resize(size);
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        paths.push_back(text.substr(at, end - at));
    return paths;
}

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
    std::string pattern = base + "/" + prefix + std::to_string(::getpid()) + "-" +
                          std::to_string(StartTime(::getpid())) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(),
                                "cannot create a private folder in " + base);
    path_ = std::move(pattern);
}

PrivateFolder::~PrivateFolder() {
    // remove_all removes links themselves and never follows them.
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    for (const std::string& socket : outside_) RemoveDeadSocket(socket);
}

bool PrivateFolder::NoteOutsideSocket(const std::string& path) {
    if (path.find('\n') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    const int fd = ::open(Inside(kOutsideNotes).c_str(),
                          O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string line = path + '\n';
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int saved = errno;
    ::close(fd);
    errno = saved;
    if (written) outside_.push_back(path);
    return written;
}

bool RemoveDeadSocket(const std::string& path) {
    struct stat st;
    sockaddr_un address{};
    if (path.empty() || path[0] != '/' || path.size() >= sizeof address.sun_path ||
        ::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    // Whether anything listens: a connection it would take, or a full queue.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    const bool dead =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    ::close(fd);
    return dead && ::unlink(path.c_str()) == 0;
}

int PrivateFolder::CreateFile(const std::string& name) const {
    return ::open(Inside(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int SweepStalePrivateFolders(const std::string& base) {
    const int baseFd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return 0;
    DIR* dir = ::fdopendir(baseFd);
    if (!dir) {
        ::close(baseFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!MakerIsGone(name)) continue;
        struct stat st;
        // Never through a link, and only what is ours.
        if (::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        for (const std::string& socket : NotedSockets(baseFd, name)) RemoveDeadSocket(socket);
        std::error_code ec;
        // remove_all removes links found inside as links, never what they name.
        if (std::filesystem::remove_all(std::filesystem::path(base) / name, ec) > 0 && !ec)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

void SweepStalePrivateFolders() {
    std::set<std::string> bases{"/tmp", PrivateFolderBase(), TemporaryFolderBase()};
    for (const std::string& base : bases) SweepStalePrivateFolders(base);
}

}  // namespace corvexa::platform
