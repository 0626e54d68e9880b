#include "engine/scan_job.h"

#include "engine/file_mask.h"

namespace corvexa {

std::string_view PdfModeName(PdfMode mode) {
    switch (mode) {
        case PdfMode::Xpdf: return "xpdf";
        case PdfMode::Pdfium: return "pdfium";
        case PdfMode::PlainText: break;
    }
    return "";
}

PdfMode PdfModeFromName(std::string_view name) {
    if (name == "xpdf") return PdfMode::Xpdf;
    if (name == "pdfium") return PdfMode::Pdfium;
    return PdfMode::PlainText;
}

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

ScanJobResult BuildScanJob(const ScanInputs& in, const DocumentReaders& readers) {
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
        return r;
    }

    ScanJob& job = r.Job;
    job.Mode = in.Mode;
    job.Folder = ExpandHome(in.Folder, in.HomeFolder);
    job.IncludeSubfolders = in.IncludeSubfolders;
    job.FileMask = r.MaskUsed;
    job.SkipLargeFilesMB = in.SkipLargeFiles ? in.SkipLargeFilesMB : 0;
    job.DecodeEML = in.DecodeEML;
    job.Archives = in.Archives;
    job.Mailboxes = in.Mailboxes;
    job.DecodeWord = in.DecodeWord && DocumentReaders::Usable(readers.word);
    job.DecodeExcel = in.DecodeExcel && DocumentReaders::Usable(readers.excel);
    const bool pdfUsable = (in.Pdf == PdfMode::Xpdf && DocumentReaders::Usable(readers.xpdf)) ||
                           (in.Pdf == PdfMode::Pdfium && DocumentReaders::Usable(readers.pdfium));
    job.PdfProcessing = pdfUsable ? in.Pdf : PdfMode::PlainText;
    return r;
}

}  // namespace corvexa
