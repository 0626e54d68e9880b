#pragma once

#include <string>
#include <string_view>

namespace corvexa::platform {

// Paths are kept as UTF-16 text throughout the program. On this platform the
// file system names files with bytes, which need not be valid UTF-8. Bytes that
// do not form valid UTF-8 are carried as the lone surrogates U+DC80..U+DCFF, one
// per byte, so that every name converts to text and back without loss.
std::u16string PathFromNative(std::string_view bytes);
std::string NativeFromPath(std::u16string_view path);

// The separator the walk puts between a folder and an entry.
inline constexpr char16_t kPathSeparator = u'/';

// The form in which the plain-text readers open a path. On Windows this adds the
// extended-length prefix; here paths need no such form.
std::u16string ExtendedPath(std::u16string_view path);

}  // namespace corvexa::platform

namespace corvexa::platform {

// open(2) of a native path of any length: a path longer than the system's
// limit is opened one folder at a time, each relative to the one before.
// Returns the descriptor, or -1 with errno set.
int OpenNative(const std::string& native, int flags);

}  // namespace corvexa::platform
