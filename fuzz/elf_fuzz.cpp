// The ELF section reader on arbitrary files. The bytes go into a memory file
// (memfd), which the reader opens by its /proc path like any other file.
#include <sys/mman.h>
#include <unistd.h>

#include <system_error>

#include "fuzz_input.h"
#include "version/elf_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int fd = memfd_create("elf-fuzz", MFD_CLOEXEC);
    static std::string path = std::string("/proc/self/fd/").append(std::to_string(fd));
    if (fd < 0 || ftruncate(fd, 0) != 0) corvexa::fuzz::Fail("memfd");
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        corvexa::fuzz::Fail("memfd write");
    for (const char* name : {".corvexa_version", ".shstrtab", ""}) {
        try {
            auto section = corvexa::version::ReadElfSection(path, name, 4096);
            if (section) corvexa::fuzz::Check(section->size() <= 4096, "more than maxBytes");
            if (section)
                corvexa::fuzz::Check(section->size() <= size, "a section larger than the file");
        } catch (const std::system_error&) {
        }
    }
    return 0;
}
