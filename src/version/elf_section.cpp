#include "version/elf_section.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace corvexa::version {

namespace {

constexpr unsigned kClass32 = 1, kClass64 = 2;
constexpr unsigned kLittleEndian = 1, kBigEndian = 2;
constexpr std::uint32_t kNoBits = 8;  // section type without file bytes
constexpr std::uint32_t kExtendedIndex = 0xFFFF;

[[noreturn]] void Fail(int error, const std::string& fileName) {
    throw std::system_error(std::error_code(error, std::system_category()), fileName);
}

bool Fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

class File {
public:
    explicit File(const std::string& name) : name_(name) {
        fd_ = ::open(name.c_str(),
                     O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block the open
        if (fd_ < 0) Fail(errno, name_);
        struct stat st {};
        int error = 0;
        if (::fstat(fd_, &st) != 0)
            error = errno;
        else if (S_ISDIR(st.st_mode))
            error = EISDIR;
        else if (!S_ISREG(st.st_mode))
            error = ENOEXEC;
        if (error != 0) {
            ::close(fd_);  // the destructor does not run for a half-built object
            Fail(error, name_);
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    ~File() { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::uint64_t Size() const { return size_; }

    // Reads exactly length bytes at offset; the range must lie inside the file
    // (a file that shrinks meanwhile counts as malformed).
    std::vector<std::uint8_t> Read(std::uint64_t offset, std::uint64_t length) const {
        if (!Fits(offset, length, size_)) Fail(ENOEXEC, name_);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
        std::size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                                static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR) continue;
                Fail(errno, name_);
            }
            if (n == 0) Fail(ENOEXEC, name_);
            done += static_cast<std::size_t>(n);
        }
        return out;
    }

private:
    const std::string& name_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Fixed-size fields of either byte order.
struct Decoder {
    bool little = true;
    std::uint64_t operator()(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) const {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            int shift = little ? 8 * i : 8 * (bytes - 1 - i);
            v |= static_cast<std::uint64_t>(b[at + static_cast<std::size_t>(i)]) << shift;
        }
        return v;
    }
};

struct SectionHeader {
    std::uint32_t name = 0, type = 0, link = 0;
    std::uint64_t offset = 0, size = 0;
};

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& fileName,
                                                        std::string_view name,
                                                        std::size_t maxBytes) {
    File file(fileName);
    if (file.Size() < 16) Fail(ENOEXEC, fileName);
    std::vector<std::uint8_t> ident = file.Read(0, 16);
    if (std::memcmp(ident.data(),
                    "\x7f"
                    "ELF",
                    4) != 0)
        Fail(ENOEXEC, fileName);
    const unsigned cls = ident[4], data = ident[5];
    if ((cls != kClass32 && cls != kClass64) || (data != kLittleEndian && data != kBigEndian) ||
        ident[6] != 1)
        Fail(ENOEXEC, fileName);
    const bool is64 = cls == kClass64;
    const Decoder get{data == kLittleEndian};

    const std::size_t headerSize = is64 ? 64 : 52;
    if (file.Size() < headerSize) Fail(ENOEXEC, fileName);
    std::vector<std::uint8_t> eh = file.Read(0, headerSize);
    const std::uint64_t shoff = is64 ? get(eh, 40, 8) : get(eh, 32, 4);
    const std::uint64_t shentsize = get(eh, is64 ? 58 : 46, 2);
    std::uint64_t shnum = get(eh, is64 ? 60 : 48, 2);
    std::uint64_t shstrndx = get(eh, is64 ? 62 : 50, 2);
    if (shoff == 0) return std::nullopt;  // no section headers at all
    const std::uint64_t minEntry = is64 ? 64 : 40;
    if (shentsize < minEntry) Fail(ENOEXEC, fileName);

    auto parse = [&](const std::vector<std::uint8_t>& b, std::size_t at) {
        SectionHeader h;
        h.name = static_cast<std::uint32_t>(get(b, at, 4));
        h.type = static_cast<std::uint32_t>(get(b, at + 4, 4));
        if (is64) {
            h.offset = get(b, at + 24, 8);
            h.size = get(b, at + 32, 8);
            h.link = static_cast<std::uint32_t>(get(b, at + 40, 4));
        } else {
            h.offset = get(b, at + 16, 4);
            h.size = get(b, at + 20, 4);
            h.link = static_cast<std::uint32_t>(get(b, at + 24, 4));
        }
        return h;
    };

    // Counts too large for the header live in the first section header.
    if (shnum == 0 || shstrndx == kExtendedIndex) {
        SectionHeader first = parse(file.Read(shoff, shentsize), 0);
        if (shnum == 0) shnum = first.size;
        if (shstrndx == kExtendedIndex) shstrndx = first.link;
    }
    if (shnum == 0) return std::nullopt;
    if (shoff > file.Size() || shnum > (file.Size() - shoff) / shentsize) Fail(ENOEXEC, fileName);
    if (shstrndx >= shnum) Fail(ENOEXEC, fileName);

    const std::vector<std::uint8_t> table = file.Read(shoff, shnum * shentsize);
    auto header = [&](std::uint64_t i) {
        return parse(table, static_cast<std::size_t>(i * shentsize));
    };

    const SectionHeader strtabHeader = header(shstrndx);
    if (strtabHeader.type == kNoBits || !Fits(strtabHeader.offset, strtabHeader.size, file.Size()))
        Fail(ENOEXEC, fileName);
    const std::vector<std::uint8_t> names = file.Read(strtabHeader.offset, strtabHeader.size);

    for (std::uint64_t i = 0; i < shnum; ++i) {
        const SectionHeader h = header(i);
        // The name must be there in full, terminator included.
        if (h.name >= names.size() || names.size() - h.name < name.size() + 1) continue;
        if (std::memcmp(names.data() + h.name, name.data(), name.size()) != 0 ||
            names[h.name + name.size()] != 0)
            continue;
        if (h.type == kNoBits) return std::nullopt;
        if (!Fits(h.offset, h.size, file.Size())) Fail(ENOEXEC, fileName);
        return file.Read(h.offset, std::min<std::uint64_t>(h.size, maxBytes));
    }
    return std::nullopt;
}

}  // namespace corvexa::version
