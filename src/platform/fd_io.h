#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace corvexa::platform {

// Reads into the buffer until it is full or the file ends, retrying after a
// signal interrupted a read. Returns the count read, or -1 with errno set.
inline ssize_t ReadFull(int fd, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, buffer + got, size - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return static_cast<ssize_t>(got);
}

// Appends everything up to the end of the file; false with errno set on error.
inline bool ReadToEnd(int fd, std::string& out) {
    char buffer[65536];
    for (;;) {
        const ssize_t r = ReadFull(fd, buffer, sizeof buffer);
        if (r < 0) return false;
        out.append(buffer, static_cast<std::size_t>(r));
        if (static_cast<std::size_t>(r) < sizeof buffer) return true;
    }
}

// Writes all bytes, retrying after interruptions and short writes; false with
// errno set on error (EIO when the system wrote nothing without saying why).
inline bool WriteFull(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace corvexa::platform
