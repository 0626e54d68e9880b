// The job builder the window and corvexa-scan share.

#include "engine/scan_job.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace corvexa {
namespace {

class Reader : public DocumentReader {
public:
    Reader(const char* name, bool available) : name_(name), available_(available) {}
    std::string_view Name() const override { return name_; }
    std::string_view Description() const override { return name_; }
    bool Available() const override { return available_; }
    Text ReadText(const Text&) override { return {}; }

private:
    const char* name_;
    bool available_;
};

DocumentReaders Readers(bool available) {
    DocumentReaders r;
    r.xpdf = std::make_shared<Reader>("xpdf", available);
    r.pdfium = std::make_shared<Reader>("pdfium", available);
    for (const DocumentKindInfo& kind : DocumentKindTable())
        r.Of(kind.kind) = std::make_shared<Reader>(kind.name.data(), available);
    return r;
}

ScanInputs Folder(const char16_t* folder) {
    ScanInputs in;
    in.Folder = folder;
    in.HomeFolder = u"/home/ann";
    return in;
}

TEST(ScanJob, ProblemsInTheOrderAUserMeetsThem) {
    struct Case {
        const char* name;
        ScanInputs in;
        ScanJobProblem problem;
    };
    ScanInputs blankFolder = Folder(u" \t");
    blankFolder.Email = blankFolder.Ftp = blankFolder.Http = blankFolder.Https = blankFolder.Www =
        false;
    ScanInputs noDetection = Folder(u"/srv");
    noDetection.Email = noDetection.Ftp = noDetection.Http = noDetection.Https = noDetection.Www =
        false;
    noDetection.FileMask = u"[";
    noDetection.CheckMask = true;
    ScanInputs badMask = Folder(u"/srv");
    badMask.FileMask = u"a[b";
    badMask.CheckMask = true;
    ScanInputs badMaskLater = badMask;  // the window reports it when the walk starts
    badMaskLater.CheckMask = false;
    ScanInputs listWithoutFolder = Folder(u"");
    listWithoutFolder.Mode = ScanMode::FileList;
    listWithoutFolder.FolderRequired = false;
    ScanInputs onlyWww = Folder(u"/srv");
    onlyWww.Email = onlyWww.Ftp = onlyWww.Http = onlyWww.Https = false;
    const Case cases[] = {
        {"blank folder first", blankFolder, ScanJobProblem::FolderBlank},
        {"no detection before the mask", noDetection, ScanJobProblem::NoDetection},
        {"invalid mask", badMask, ScanJobProblem::MaskInvalid},
        {"mask left to the walk", badMaskLater, ScanJobProblem::None},
        {"file list needs no folder", listWithoutFolder, ScanJobProblem::None},
        {"one switch is enough", onlyWww, ScanJobProblem::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScanJobResult r = BuildScanJob(c.in, Readers(true));
        EXPECT_EQ(r.Problem, c.problem);
        if (c.problem == ScanJobProblem::MaskInvalid) {
            EXPECT_FALSE(r.MaskError.empty());
        }
    }
}

TEST(ScanJob, FieldsBecomeTheJob) {
    struct Case {
        const char16_t* folder;
        const char16_t* mask;
        const char16_t* jobFolder;
        const char16_t* jobMask;
    };
    const Case cases[] = {
        {u"~", u"", u"/home/ann", u"*"},
        {u"~/mail", u"  ", u"/home/ann/mail", u"*"},
        {u"~ann/mail", u"*.eml", u"~ann/mail", u"*.eml"},
        {u"/srv/~x", u"\t*.txt", u"/srv/~x", u"\t*.txt"},
    };
    for (const Case& c : cases) {
        ScanInputs in = Folder(c.folder);
        in.FileMask = c.mask;
        in.SkipLargeFiles = true;
        in.SkipLargeFilesMB = 7;
        in.IncludeSubfolders = false;
        const ScanJobResult r = BuildScanJob(in, Readers(true));
        ASSERT_EQ(r.Problem, ScanJobProblem::None);
        EXPECT_EQ(r.Job.Folder, c.jobFolder);
        EXPECT_EQ(r.Job.FileMask, c.jobMask);
        EXPECT_EQ(r.MaskUsed, c.jobMask);
        EXPECT_EQ(r.Job.SkipLargeFilesMB, 7);
        EXPECT_FALSE(r.Job.IncludeSubfolders);
    }
    ScanInputs noLimit = Folder(u"/srv");
    noLimit.SkipLargeFilesMB = 7;
    EXPECT_EQ(BuildScanJob(noLimit, Readers(true)).Job.SkipLargeFilesMB, 0);
}

// A decoder or PDF reader that cannot run here is left off the job, so its
// files are read as plain text.
TEST(ScanJob, ReadersThatCannotRunAreLeftOff) {
    for (bool available : {true, false}) {
        for (PdfMode pdf : {PdfMode::PlainText, PdfMode::Xpdf, PdfMode::Pdfium}) {
            ScanInputs in = Folder(u"/srv");
            for (const DocumentKindInfo& kind : DocumentKindTable()) in.Kinds.Set(kind.kind);
            in.Pdf = pdf;
            const ScanJob job = BuildScanJob(in, Readers(available)).Job;
            for (const DocumentKindInfo& kind : DocumentKindTable())
                EXPECT_EQ(job.Kinds.Has(kind.kind), available) << kind.name;
            EXPECT_EQ(job.Pdf, available ? pdf : PdfMode::PlainText);
        }
    }
    ScanInputs none = Folder(u"/srv");
    none.Kinds.Set(DocumentKind::Word);
    none.Kinds.Set(DocumentKind::Excel);
    none.Pdf = PdfMode::Xpdf;
    const ScanJob job = BuildScanJob(none, DocumentReaders{}).Job;
    EXPECT_EQ(job.Kinds, DocumentKinds{});
    EXPECT_EQ(job.Pdf, PdfMode::PlainText);
}

TEST(ScanJob, PdfModeNames) {
    for (PdfMode m : {PdfMode::PlainText, PdfMode::Xpdf, PdfMode::Pdfium})
        EXPECT_EQ(PdfModeFromName(PdfModeName(m)), m);
    EXPECT_EQ(PdfModeName(PdfMode::Xpdf), "xpdf");
    EXPECT_EQ(PdfModeName(PdfMode::Pdfium), "pdfium");
    EXPECT_EQ(PdfModeFromName("XPDF"), PdfMode::PlainText);
}

}  // namespace
}  // namespace corvexa

namespace corvexa {
namespace {

// The readers a folder scan switches on whose files its mask never matches.
TEST(ScanJob, ReadersOutsideTheMask) {
    struct Case {
        const char16_t* mask;
        bool eml, pdf;
        std::vector<std::string> outside;
    } cases[] = {
        {u"*.txt", true, true, {"eml", "pdf"}},
        {u"*.txt;*.eml", true, true, {"pdf"}},
        {u"*", true, true, {}},
        {u"*.txt", false, false, {}},
        {u"*.PDF", false, true, {}},
    };
    for (const Case& c : cases) {
        ScanJob job;
        job.FileMask = c.mask;
        job.Kinds.Set(DocumentKind::Eml, c.eml);
        job.Pdf = c.pdf ? PdfMode::Xpdf : PdfMode::PlainText;
        EXPECT_EQ(ReadersOutsideTheMask(job), c.outside) << ToUtf8(c.mask);
        job.Mode = ScanMode::FileList;
        EXPECT_TRUE(ReadersOutsideTheMask(job).empty());
    }
}

}  // namespace
}  // namespace corvexa
