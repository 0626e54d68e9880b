#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/readers/document_reader.h"
#include "engine/text.h"

namespace corvexa {

enum class ScanMode { Directory, FileList };

// The parameters of one scan, fixed at START and never changed while the
// collector runs.
struct ScanJob {
    ScanMode Mode = ScanMode::Directory;
    Text Folder;
    bool IncludeSubfolders = true;
    Text FileMask = u"*";
    std::int32_t SkipLargeFilesMB = 0;  // 0: no limit
    DocumentKinds Kinds;                // the kinds decoded by their readers
    // Compressed files and archives read member by member (archive_reader.h).
    bool Archives = false;
    // mbox files split into messages, Maildir messages decoded (mailbox_reader.h).
    bool Mailboxes = false;
    // After a decoded PDF, Word or Excel document's text, its link targets
    // (PDF link annotations, external hyperlinks), each one a line.
    bool LinkTargets = false;
    PdfMode Pdf = PdfMode::PlainText;
};

// A scan's inputs as the user gave them (the window's fields and menu items, or
// the command line), before they are checked and turned into a ScanJob.
struct ScanInputs {
    ScanMode Mode = ScanMode::Directory;
    Text Folder;                 // as typed: "~" or "~/..." names the home folder
    Text HomeFolder;             // what "~" stands for; empty: "~" is taken as it is
    bool FolderRequired = true;  // a blank folder is refused (the window always asks for one)
    bool IncludeSubfolders = true;
    Text FileMask = u"*";    // blank means every file
    bool CheckMask = false;  // refuse an invalid mask now rather than when the walk starts
    bool SkipLargeFiles = false;
    std::int32_t SkipLargeFilesMB = 0;
    bool Email = true, Ftp = true, Http = true, Https = true, Www = true;
    DocumentKinds Kinds;
    bool Archives = false;
    bool Mailboxes = false;
    bool LinkTargets = false;
    PdfMode Pdf = PdfMode::PlainText;
};

// The reading switches beyond the document kinds: compressed files and
// archives read member by member, mailboxes message by message, link
// targets. Each is switched on and off as a whole, like a document kind, and is off unless the user
// turns it on.
struct ContainerSwitchInfo {
    bool ScanInputs::*input;
    std::string_view cliName;  // the command line's long option
    std::string_view settingsKey;
    std::string_view menuCaption;
    std::string_view menuObjectName;
};

inline constexpr std::array<ContainerSwitchInfo, 3> kContainerSwitches = {{
    {&ScanInputs::LinkTargets, "link-targets", "LinkTargets", "Read Link Targets",
     "ReadLinkTargets1"},
    {&ScanInputs::Archives, "archives", "ReadArchives", "Read Compressed Files and Archives",
     "ReadArchives1"},
    {&ScanInputs::Mailboxes, "mailboxes", "ReadMailboxes", "Read Mailboxes", "ReadMailboxes1"},
}};

enum class ScanJobProblem { None, FolderBlank, NoDetection, MaskInvalid };

struct ScanJobResult {
    ScanJobProblem Problem = ScanJobProblem::None;
    std::string MaskError;  // with MaskInvalid
    ScanJob Job;            // complete when Problem is None
    Text MaskUsed;          // the mask after a blank one became "*"
};

// The checks of BuildScanJob alone, which need no readers: Problem, MaskError
// and MaskUsed as BuildScanJob gives them; Job is left empty.
ScanJobResult CheckScanInputs(const ScanInputs& inputs);

// Checks the inputs and builds the job: a blank mask becomes "*", "~" is
// expanded, a document decoder whose reader cannot run on this machine is left
// off (its files are read as plain text), and the PDF mode is kept only when its
// reader can run. Problems are reported in the order a user meets them: the
// folder, the detection switches, the mask.
ScanJobResult BuildScanJob(const ScanInputs& inputs, const DocumentReaders& readers);

// The document readers a folder scan switches on whose files its mask can
// never match, by their command-line names ("eml", "pdf"); none for a file
// list or an invalid mask.
std::vector<std::string> ReadersOutsideTheMask(const ScanJob& job);

}  // namespace corvexa
