#include "engine/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/native_path.h"

namespace corvexa {

std::size_t MemorySource::Read(char* buffer, std::size_t size) {
    const std::size_t take = std::min(size, bytes_.size() - pos_);
    if (take) std::memcpy(buffer, bytes_.data() + pos_, take);
    pos_ += take;
    return take;
}

bool IsPseudoFileSystem(std::int64_t fsType) {
    // The magic numbers of linux/magic.h, written out so that the list reads
    // as the decision it is.
    switch (static_cast<std::uint32_t>(fsType)) {
        case 0x9fa0:      // proc
        case 0x62656572:  // sysfs
        case 0x64626720:  // debugfs
        case 0x74726163:  // tracefs
        case 0x73636673:  // securityfs
        case 0x27e0eb:    // cgroup
        case 0x63677270:  // cgroup2
        case 0x6165676c:  // pstore
        case 0xcafe4a11:  // bpf
        case 0x62656570:  // configfs
        case 0xde5e81e4:  // efivarfs
        case 0xf97cff8c:  // selinuxfs
        case 0x42494e4d:  // binfmt_misc
        case 0x65735543:  // fusectl
        case 0x1cd1:      // devpts
        case 0x19800202:  // mqueue
        case 0x6e736673:  // nsfs
            return true;
        default:
            return false;
    }
}

bool IsOnPseudoFileSystem(int fd) {
    struct statfs fs;
    return ::fstatfs(fd, &fs) == 0 && IsPseudoFileSystem(static_cast<std::int64_t>(fs.f_type));
}

FolderCache::~FolderCache() {
    Release();
}

void FolderCache::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    folder_.clear();
}

int FolderCache::Open(const std::string& native, int flags) {
    // Only an absolute path of the usual length whose last part is a name:
    // anything else is opened as it stands (a path with a NUL in it is read
    // by the system up to the NUL, so its folder is not the one it names).
    const std::size_t slash = native.rfind('/');
    if (native.empty() || native[0] != '/' || native.size() >= PATH_MAX ||
        slash == native.size() - 1 || std::strlen(native.c_str()) != native.size())
        return platform::OpenNative(native, flags);
    const char* name = native.c_str() + slash + 1;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return platform::OpenNative(native, flags);
    const std::string_view folder(native.data(), slash ? slash : 1);
    if (fd_ < 0 || folder != folder_) {
        Release();
        fd_ = ::open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        // A folder that cannot be held: the file is opened by its path, which
        // gives the error (or the file) the system gives for that path.
        if (fd_ < 0) return platform::OpenNative(native, flags);
        folder_ = folder;
    }
    return ::openat(fd_, name, flags | O_CLOEXEC);
}

FileSource::~FileSource() {
    Close();
}

void FileSource::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void FileSource::Fail(const char* what) {
    int e = errno;
    Close();
    throw ReadError(std::string(what) + " " + ToUtf8(path_) + ": " + std::strerror(e));
}

std::uint64_t FileSource::Open() {
    Close();
    read_ = 0;
    limit_ = UINT64_MAX;
    std::string native = platform::NativeFromPath(platform::ExtendedPath(path_));
    const int flags = O_RDONLY | O_NOCTTY | O_NONBLOCK;
    fd_ = folders_ ? folders_->Open(native, flags) : platform::OpenNative(native, flags);
    if (fd_ < 0) Fail("cannot open");
    struct stat st;
    if (::fstat(fd_, &st) != 0) Fail("cannot examine");
    if (!S_ISREG(st.st_mode)) {
        Close();
        throw ReadError("not a regular file: " + ToUtf8(path_));
    }
    // O_NONBLOCK stays: it has no effect on reading a regular file.
    // Kernel pseudo file systems have no device of their own, only an
    // anonymous number (major 0): a file on a real device needs no statfs.
    if (major(st.st_dev) == 0 && IsOnPseudoFileSystem(fd_)) {
        limit_ = kPseudoFileLimit;
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t FileSource::Read(char* buffer, std::size_t size) {
    if (fd_ < 0) throw ReadError("not open: " + ToUtf8(path_));
    // One byte past the limit tells a file that ends there from one that goes on.
    const std::uint64_t room = limit_ - read_;
    const std::size_t want = room < size ? static_cast<std::size_t>(room) + 1 : size;
    std::size_t got = 0;
    while (got < want) {
        ssize_t r = ::read(fd_, buffer + got, want - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno != EINTR) {
            Fail("cannot read");
        }
    }
    if (got > room) {
        Close();
        throw ReadError("reading stopped after " + std::to_string(kPseudoFileLimit >> 20) +
                        " MiB of a kernel pseudo file: " + ToUtf8(path_));
    }
    read_ += got;
    return got;
}

}  // namespace corvexa
