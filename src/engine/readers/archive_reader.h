#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_source.h"

namespace corvexa {

// Compressed files (gzip, bzip2, xz, zstd, lz4) and archives (zip, tar plain
// or compressed, 7z, cpio) read member by member through libarchive. Members
// are unpacked into memory only, one at a time per nesting level; a member's
// name is a label and never becomes a path, so "../" and absolute names are
// harmless, and links inside an archive are not followed.
//
// A member's place is written as its container's place, the separator "//" and
// the member's path inside it: "a.tar.gz//docs/a.txt", nested
// "a.zip//b.tar//c.txt". A compressed single file names its one member after
// itself without the compression ending: "notes.txt.gz//notes.txt".

// The separator between a container and a member's path.
inline constexpr std::string_view kMemberSeparator = "//";

struct ArchiveLimits {
    // Largest member unpacked; a bigger one fails as a bomb.
    std::uint64_t memberBytes = std::uint64_t{32} << 20;
    // Most bytes unpacked from one outermost archive, nested ones included.
    std::uint64_t totalBytes = std::uint64_t{256} << 20;
    // Unpacked bytes may exceed this many times the packed size (plus one
    // megabyte of slack for small files) before the archive counts as a bomb.
    std::uint64_t ratio = 200;
    // Containers inside containers, the outermost counting as 1.
    int depth = 8;
};

// A part of an archive that could not be read: its place and the reason.
struct ArchiveFailure {
    std::string place;
    std::string reason;
};

// Whether a file name ends in one of the endings read as compressed file or
// archive (ASCII case ignored).
bool IsArchiveName(std::string_view name);

// Reads every regular member of the archive in source (named `place`, the
// place its members are written under) and hands each, with its place, to
// visit; a member that is itself an archive is opened in turn up to the depth
// limit. A member that fails (encrypted, corrupt) is noted in failures and
// the rest is read; a corrupt or truncated archive ends there with what was
// unpacked before kept; a bomb (past a limit) ends the whole archive. Checks
// stop between members. Returns false, having visited nothing, when source
// holds neither compression nor an archive format (read it as it is). Throws
// ReadError when source cannot be opened. `entered`, when given, is told the
// place of each archive inside it as it is opened, before its members.
using MemberVisitor = std::function<void(const std::string& place, std::string_view bytes)>;
using ContainerVisitor = std::function<void(const std::string& place)>;
bool ReadArchive(ByteSource& source, const std::string& place, const ArchiveLimits& limits,
                 const MemberVisitor& visit, std::vector<ArchiveFailure>& failures,
                 const std::atomic<bool>& stop, const ContainerVisitor& entered = {});

}  // namespace corvexa
