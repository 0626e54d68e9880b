#include "engine/scan_job.h"

#include <array>
#include <optional>

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
        job.Kinds.Set(kind.kind,
                      in.Kinds.Has(kind.kind) && DocumentReaders::Usable(readers.Of(kind.kind)));
    job.Archives = in.Archives;
    job.Mailboxes = in.Mailboxes;
    job.LinkTargets = in.LinkTargets;
    job.Pdf = DocumentReaders::Usable(readers.ForPdf(in.Pdf)) ? in.Pdf : PdfMode::PlainText;
    return r;
}

}  // namespace corvexa

namespace corvexa {

std::vector<std::string> ReadersOutsideTheMask(const ScanJob& job) {
    std::vector<std::string> names;
    if (job.Mode != ScanMode::Directory) return names;
    const std::optional<FileMask> mask = FileMask::Compile(job.FileMask);
    if (!mask) return names;
    auto outside = [&](auto extensions) {
        for (std::u16string_view e : extensions)
            if (!e.empty() && mask->CanMatchExtension(e)) return false;
        return true;
    };
    for (const DocumentKindInfo& kind : DocumentKindTable())
        if (job.Kinds.Has(kind.kind) && outside(kind.extensions)) names.emplace_back(kind.name);
    if (job.Pdf != PdfMode::PlainText && outside(std::array<std::u16string_view, 1>{u".pdf"}))
        names.emplace_back("pdf");
    return names;
}

}  // namespace corvexa
