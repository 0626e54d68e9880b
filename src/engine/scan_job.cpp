#include "engine/scan_job.h"

#include "engine/file_mask.h"

namespace corvexa {

namespace {

Text ExpandHome(const Text& folder, const Text& home) {
    if (home.empty() || folder.empty() || folder[0] != u'~') return folder;
    if (folder.size() == 1) return home;
    if (folder[1] != u'/') return folder;  // "~user" is not expanded
    Text out = home;
    if (!out.empty() && out.back() == u'/') out.pop_back();
    out.append(folder, 1);
    return out;
}

}  // namespace

ScanJobResult CheckScanInputs(const ScanInputs& in) {
    ScanJobResult r;
    if (in.FolderRequired && IsBlankText(in.Folder)) {
        r.Problem = ScanJobProblem::FolderBlank;
        return r;
    }
    if (!(in.Email || in.Ftp || in.Http || in.Https || in.Www)) {
        r.Problem = ScanJobProblem::NoDetection;
        return r;
    }
    r.MaskUsed = IsBlankText(in.FileMask) ? Text(u"*") : in.FileMask;
    if (in.CheckMask && in.Mode == ScanMode::Directory &&
        !FileMask::Compile(r.MaskUsed, &r.MaskError)) {
        r.Problem = ScanJobProblem::MaskInvalid;
    }
    return r;
}

ScanJobResult BuildScanJob(const ScanInputs& in, const DocumentReaders& readers) {
    ScanJobResult r = CheckScanInputs(in);
    if (r.Problem != ScanJobProblem::None) return r;
    ScanJob& job = r.Job;
    job.Mode = in.Mode;
    job.Folder = ExpandHome(in.Folder, in.HomeFolder);
    job.IncludeSubfolders = in.IncludeSubfolders;
    job.FileMask = r.MaskUsed;
    job.SkipLargeFilesMB = in.SkipLargeFiles ? in.SkipLargeFilesMB : 0;
    for (const DocumentKindInfo& kind : DocumentKindTable())
        job.Kinds.Set(kind.kind, in.Kinds.Has(kind.kind) && DocumentReaders::Usable(readers.Of(kind.kind)));
    job.Archives = in.Archives;
    job.Mailboxes = in.Mailboxes;
    job.Pdf = DocumentReaders::Usable(readers.ForPdf(in.Pdf)) ? in.Pdf : PdfMode::PlainText;
    return r;
}

}  // namespace corvexa
