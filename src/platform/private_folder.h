#pragma once

#include <string>
#include <vector>

namespace corvexa::platform {

// Where private folders are made: the user's runtime folder when there is a
// usable one, else $TMPDIR, else /tmp.
std::string PrivateFolderBase();
// $TMPDIR when set, else /tmp: for work too large for the runtime folder.
std::string TemporaryFolderBase();

// A folder of our own for files nobody else may see or replace: made with
// mkdtemp (mode 0700) as base/<prefix><pid>-<process start time>-XXXXXX, and
// removed with everything in it when the object goes, on every way out of its
// scope. The name tells a later start whether its maker still runs.
class PrivateFolder {
public:
    // Throws std::system_error when the folder cannot be made.
    explicit PrivateFolder(const std::string& prefix,
                           const std::string& base = PrivateFolderBase());
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string Inside(const std::string& name) const { return path_ + '/' + name; }

    // Creates a new file of that name in the folder, mode 0600, refusing one
    // that exists and any link (O_EXCL | O_NOFOLLOW). Returns the descriptor
    // (O_RDWR, close-on-exec), or -1 with errno set.
    int CreateFile(const std::string& name) const;

    // Notes a socket that a program doing this folder's work makes outside
    // it (where that program insists on a place of its own choosing), before
    // the program starts: it goes with the folder, and with the sweep of a
    // later start when we were killed, if it is then a socket of ours that
    // nothing listens on (so the program must be gone by then). False, errno
    // set, when the note cannot be kept.
    bool NoteOutsideSocket(const std::string& path);

private:
    std::string path_;
    std::vector<std::string> outside_;
};

// Removes the socket at path (absolute) when the effective user owns it and
// nothing listens on it any more: never another's file, never a live socket.
bool RemoveDeadSocket(const std::string& path);

// Removes, with everything in them, the private folders under base whose
// maker no longer runs: only real folders (never a link) that the effective
// user owns, named as above with a prefix of "corvexa-" and lower-case words
// each followed by "-"; and the sockets noted for them, as the folder's own
// end would. Returns how many folders were removed.
int SweepStalePrivateFolders(const std::string& base);

// The same for every folder that PrivateFolderBase(), TemporaryFolderBase()
// or /tmp name: what runs that were killed left behind.
void SweepStalePrivateFolders();

}  // namespace corvexa::platform
