#pragma once

#include <string>

namespace corvexa::platform {

// Where private folders are made: the user's runtime folder when there is a
// usable one, else TMPDIR, else /tmp.
std::string PrivateFolderBase();

// Makes a folder only we can enter (mode 0700, made by mkdtemp) under base,
// named for this process ("corvexa-<pid>-<process start time>-XXXXXX") so
// that a later start can tell once its maker is gone. Returns its path, or an
// empty string with errno set.
std::string MakePrivateFolder(const std::string& base = PrivateFolderBase());

// Removes, with everything in them, the private folders under base that a
// process no longer running made: only real folders (never a link) that the
// effective user owns and whose name has the form above. Returns how many
// were removed.
int SweepStalePrivateFolders(const std::string& base);

// The same for every folder that PrivateFolderBase() may name.
void SweepStalePrivateFolders();

}  // namespace corvexa::platform
