#pragma once

#include <cstddef>
#include <functional>

#include "engine/text.h"

namespace corvexa {

// The folder walk of a directory scan: depth first, in the order the file
// system returns the entries, hidden ones included; a subfolder is walked where
// it is met, before the next entry of its folder. onFile receives the full path
// of every entry that is not a folder. stopping is asked before each folder is
// entered: once it says yes no further folder is entered, while the rest of
// the folders already open are still listed. A folder that cannot be opened
// contributes nothing.
//
// So that every walk ends, and ends in a time a user would expect:
//  - each folder (device and inode) is entered at most once per walk, however
//    many links lead to it;
//  - a kernel pseudo file system (proc, sysfs and the like) is entered only
//    when the walk started on it, and inside one, links are not followed to
//    folders (/proc/<pid>/root leads back to "/" once per process);
//  - folders are opened relative to their parent's descriptor, so a path
//    longer than the system's limit is walked like any other, and only the
//    first kHeldLevels levels keep a descriptor open while their subfolders
//    are walked (deeper ones are opened again from the nearest that does), so
//    depth is limited neither by path length nor by open descriptors.
struct FolderWalk {
    static constexpr std::size_t kHeldLevels = 64;

    static void Run(const Text& folder, bool recurse, const std::function<bool()>& stopping,
                    const std::function<void(const Text& path)>& onFile);
};

}  // namespace corvexa
