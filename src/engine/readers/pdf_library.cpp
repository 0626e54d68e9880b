#include "engine/readers/pdf_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "engine/readers/text_reader.h"
#include "platform/native_path.h"
#include "platform/process.h"

namespace corvexa {

// ---------------------------------------------------------------------------
// The mapped file

namespace {

// A file that shrinks while it is mapped (another program truncates it) makes
// every read past its new end a bus error, which would end the whole program.
// The range of the one file mapped at a time is known here; a bus error inside
// it puts a page of zeros where the missing bytes were, and the library sees a
// damaged document instead. Any other bus error goes to the handler before us.
std::atomic<std::uintptr_t> g_mappedStart{0};
std::atomic<std::size_t> g_mappedSize{0};
struct sigaction g_previousBusAction;

extern "C" void OnBusError(int, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::uintptr_t start = g_mappedStart.load();
    if (start != 0 && address >= start && address - start < g_mappedSize.load()) {
        const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
        if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED)
            return;
    }
    // Not ours: the fault happens again under the previous action.
    ::sigaction(SIGBUS, &g_previousBusAction, nullptr);
}

void GuardMappedFiles() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

}  // namespace

MappedFile::MappedFile(const std::string& nativePath) {
    // O_NONBLOCK: a FIFO named like a PDF must not block the scan on open. A
    // path past the system's limit is opened a folder at a time.
    int fd = platform::OpenNative(nativePath, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw ReadError("cannot open " + nativePath + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw ReadError(nativePath + " is not a regular file");
    }
    if (st.st_size >= kSizeLimit) {
        ::close(fd);
        throw ReadError(nativePath + " is too large for the PDF library (2 GiB or more)");
    }
    if (st.st_size == 0) {
        ::close(fd);
        throw ReadError(nativePath + " is empty");
    }
    size_ = static_cast<std::size_t>(st.st_size);
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) throw ReadError("cannot map " + nativePath + ": " + std::strerror(errno));
    data_ = static_cast<const unsigned char*>(p);
    GuardMappedFiles();
    g_mappedSize.store(size_);
    g_mappedStart.store(reinterpret_cast<std::uintptr_t>(data_));
}

MappedFile::~MappedFile() {
    if (!data_) return;
    if (g_mappedStart.load() == reinterpret_cast<std::uintptr_t>(data_)) g_mappedStart.store(0);
    ::munmap(const_cast<unsigned char*>(data_), size_);
}

void AppendPageText(Text& result, TextView page) {
    if (result.empty()) {
        result.assign(page);
    } else {
        result += u"\r\r";
        result += page;
    }
}

void AddLink(std::vector<LinkTarget>& links, std::uint32_t page, std::string_view uri) {
    if (uri.empty() || links.size() >= kMaxLinkTargets) return;
    std::string text(uri.substr(0, kMaxLinkLength));
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    links.push_back({page, std::move(text)});
}

namespace {

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Resolves one call or notes that the library lacks it.
template <typename F>
void Resolve(void* handle, const char* name, F& fn, bool& ok) {
    fn = reinterpret_cast<F>(::dlsym(handle, name));
    if (!fn) ok = false;
}

// ---------------------------------------------------------------------------
// The PDF library's own interface: initialisation, load from memory, page
// count, and per page its text layer.

class PdfiumLibrary : public PdfLibrary {
public:
    static std::unique_ptr<PdfLibrary> Bind(void* handle) {
        auto lib = std::unique_ptr<PdfiumLibrary>(new PdfiumLibrary);
        bool ok = true;
        Resolve(handle, "FPDF_InitLibrary", lib->init_, ok);
        Resolve(handle, "FPDF_LoadMemDocument", lib->loadMem_, ok);
        Resolve(handle, "FPDF_CloseDocument", lib->closeDoc_, ok);
        Resolve(handle, "FPDF_GetPageCount", lib->pageCount_, ok);
        Resolve(handle, "FPDF_LoadPage", lib->loadPage_, ok);
        Resolve(handle, "FPDF_ClosePage", lib->closePage_, ok);
        Resolve(handle, "FPDFText_LoadPage", lib->loadText_, ok);
        Resolve(handle, "FPDFText_ClosePage", lib->closeText_, ok);
        Resolve(handle, "FPDFText_CountChars", lib->countChars_, ok);
        Resolve(handle, "FPDFText_GetText", lib->getText_, ok);
        if (!ok) return nullptr;
        // Links are read when the library has every call for them.
        bool links = true;
        Resolve(handle, "FPDFLink_Enumerate", lib->enumLinks_, links);
        Resolve(handle, "FPDFLink_GetAction", lib->linkAction_, links);
        Resolve(handle, "FPDFAction_GetType", lib->actionType_, links);
        Resolve(handle, "FPDFAction_GetURIPath", lib->uriPath_, links);
        lib->hasLinks_ = links;
        return lib;
    }

    bool HasLinks() const override { return hasLinks_; }

    std::vector<LinkTarget> DocumentLinks(const unsigned char* data, std::size_t size,
                                          const std::atomic<bool>* cancel) override {
        std::vector<LinkTarget> links;
        if (!hasLinks_) return links;
        void* doc = Open(data, size);
        std::unique_ptr<void, void (*)(void*)> docGuard(doc, closeDoc_);
        const int pages = pageCount_(doc);
        for (int i = 0; i < pages; ++i) {
            if (Cancelled(cancel)) throw ReadError("stopped");
            void* page = loadPage_(doc, i);
            if (!page) continue;
            std::unique_ptr<void, void (*)(void*)> pageGuard(page, closePage_);
            PageLinks(doc, page, static_cast<std::uint32_t>(i + 1), links);
        }
        return links;
    }

    Text DocumentText(const unsigned char* data, std::size_t size,
                      const std::atomic<bool>* cancel) override {
        std::unique_ptr<void, void (*)(void*)> docGuard(Open(data, size), closeDoc_);
        void* doc = docGuard.get();
        Text result;
        const int pages = pageCount_(doc);
        for (int i = 0; i < pages; ++i) {
            if (Cancelled(cancel)) throw ReadError("stopped");
            AppendPageText(result, PageText(doc, i));
        }
        return result;
    }

private:
    PdfiumLibrary() = default;

    void* Open(const unsigned char* data, std::size_t size) {
        if (!initialised_) {
            init_();
            initialised_ = true;
        }
        void* doc = loadMem_(data, static_cast<int>(size), nullptr);
        if (!doc) throw NotDecodable("the PDF library cannot open the document");
        return doc;
    }

    // The URI actions of the page's links, in the page's order.
    void PageLinks(void* doc, void* page, std::uint32_t number, std::vector<LinkTarget>& links) {
        constexpr unsigned long kUriAction = 3;
        int position = 0;
        void* link = nullptr;
        while (links.size() < kMaxLinkTargets && enumLinks_(page, &position, &link)) {
            void* action = link ? linkAction_(link) : nullptr;
            if (!action || actionType_(action) != kUriAction) continue;
            // The URI's bytes and a terminating NUL.
            const unsigned long needed = uriPath_(doc, action, nullptr, 0);
            if (needed <= 1 || needed > kMaxLinkLength + 1) continue;
            std::string uri(needed, '\0');
            if (uriPath_(doc, action, uri.data(), needed) != needed) continue;
            uri.resize(needed - 1);
            AddLink(links, number, uri);
        }
    }

    Text PageText(void* doc, int index) {
        void* page = loadPage_(doc, index);
        if (!page) return {};
        std::unique_ptr<void, void (*)(void*)> pageGuard(page, closePage_);
        void* textPage = loadText_(page);
        if (!textPage) return {};
        std::unique_ptr<void, void (*)(void*)> textGuard(textPage, closeText_);
        const int count = countChars_(textPage);
        if (count <= 0) return {};
        // UTF-16 code units and a terminating NUL.
        std::u16string buffer(static_cast<std::size_t>(count) + 1, u'\0');
        const int written =
            getText_(textPage, 0, count, reinterpret_cast<unsigned short*>(buffer.data()));
        if (written <= 0) return {};
        buffer.resize(static_cast<std::size_t>(written));
        while (!buffer.empty() && buffer.back() == u'\0') buffer.pop_back();
        return buffer;
    }

    void (*init_)() = nullptr;
    void* (*loadMem_)(const void*, int, const char*) = nullptr;
    void (*closeDoc_)(void*) = nullptr;
    int (*pageCount_)(void*) = nullptr;
    void* (*loadPage_)(void*, int) = nullptr;
    void (*closePage_)(void*) = nullptr;
    void* (*loadText_)(void*) = nullptr;
    void (*closeText_)(void*) = nullptr;
    int (*countChars_)(void*) = nullptr;
    int (*getText_)(void*, int, int, unsigned short*) = nullptr;
    int (*enumLinks_)(void*, int*, void**) = nullptr;
    void* (*linkAction_)(void*) = nullptr;
    unsigned long (*actionType_)(void*) = nullptr;
    unsigned long (*uriPath_)(void*, void*, void*, unsigned long) = nullptr;
    bool initialised_ = false;
    bool hasLinks_ = false;
};

// ---------------------------------------------------------------------------
// Poppler's GLib interface: a document from bytes in memory, its pages and
// each page's text (UTF-8, lines ended by LF).

class PopplerGlibLibrary : public PdfLibrary {
public:
    static std::unique_ptr<PdfLibrary> Bind(void* handle) {
        auto lib = std::unique_ptr<PopplerGlibLibrary>(new PopplerGlibLibrary);
        bool ok = true;
        Resolve(handle, "g_bytes_new_static", lib->bytesNew_, ok);
        Resolve(handle, "g_bytes_unref", lib->bytesUnref_, ok);
        Resolve(handle, "poppler_document_new_from_bytes", lib->fromBytes_, ok);
        Resolve(handle, "poppler_document_get_n_pages", lib->pageCount_, ok);
        Resolve(handle, "poppler_document_get_page", lib->getPage_, ok);
        Resolve(handle, "poppler_page_get_text", lib->pageText_, ok);
        Resolve(handle, "g_object_unref", lib->unref_, ok);
        Resolve(handle, "g_free", lib->free_, ok);
        Resolve(handle, "g_error_free", lib->errorFree_, ok);
        if (!ok) return nullptr;
        bool links = true;
        Resolve(handle, "poppler_page_get_link_mapping", lib->linkMapping_, links);
        Resolve(handle, "poppler_page_free_link_mapping", lib->freeMapping_, links);
        lib->hasLinks_ = links;
        return lib;
    }

    bool HasLinks() const override { return hasLinks_; }

    std::vector<LinkTarget> DocumentLinks(const unsigned char* data, std::size_t size,
                                          const std::atomic<bool>* cancel) override {
        std::vector<LinkTarget> links;
        if (!hasLinks_) return links;
        Document d = Open(data, size);
        const int pages = pageCount_(d.doc.get());
        for (int i = 0; i < pages; ++i) {
            if (Cancelled(cancel)) throw ReadError("stopped");
            void* page = getPage_(d.doc.get(), i);
            if (!page) continue;
            std::unique_ptr<void, void (*)(void*)> pageGuard(page, unref_);
            PageLinks(page, static_cast<std::uint32_t>(i + 1), links);
        }
        return links;
    }

    Text DocumentText(const unsigned char* data, std::size_t size,
                      const std::atomic<bool>* cancel) override {
        Document d = Open(data, size);
        void* doc = d.doc.get();
        Text result;
        const int pages = pageCount_(doc);
        for (int i = 0; i < pages; ++i) {
            if (Cancelled(cancel)) throw ReadError("stopped");
            AppendPageText(result, PageText(doc, i));
        }
        return result;
    }

private:
    PopplerGlibLibrary() = default;

    // A document and the bytes it reads, released in that order.
    struct Document {
        std::unique_ptr<void, void (*)(void*)> bytes;
        std::unique_ptr<void, void (*)(void*)> doc;
    };

    Document Open(const unsigned char* data, std::size_t size) {
        // The bytes stay mapped until the document is gone: it reads them as
        // it goes.
        void* bytes = bytesNew_(data, size);
        if (!bytes) throw ReadError("out of memory");
        Document d{{bytes, bytesUnref_}, {nullptr, unref_}};
        void* error = nullptr;
        void* doc = fromBytes_(bytes, nullptr, &error);
        if (error) errorFree_(error);
        if (!doc) throw NotDecodable("the PDF library cannot open the document");
        d.doc.reset(doc);
        return d;
    }

    // The library's list cell, link mapping and URI action, as its interface
    // lays them out.
    struct ListCell {
        void* data;
        ListCell* next;
        ListCell* prev;
    };
    struct LinkMapping {
        double area[4];
        const int* action;  // the action's first field is its type
    };
    struct UriAction {
        int type;
        char* title;
        char* uri;
    };
    static constexpr int kUriAction = 5;

    // The page's list holds its links last to first: read backwards, they
    // come in the page's order.
    void PageLinks(void* page, std::uint32_t number, std::vector<LinkTarget>& links) {
        auto* list = static_cast<ListCell*>(linkMapping_(page));
        if (!list) return;
        std::unique_ptr<void, void (*)(void*)> listGuard(list, freeMapping_);
        ListCell* last = list;
        while (last->next) last = last->next;
        for (ListCell* cell = last; cell; cell = cell->prev) {
            const auto* mapping = static_cast<const LinkMapping*>(cell->data);
            if (!mapping || !mapping->action || *mapping->action != kUriAction) continue;
            const auto* action = reinterpret_cast<const UriAction*>(mapping->action);
            if (action->uri) AddLink(links, number, action->uri);
        }
    }

    Text PageText(void* doc, int index) {
        void* page = getPage_(doc, index);
        if (!page) return {};
        std::unique_ptr<void, void (*)(void*)> pageGuard(page, unref_);
        char* text = pageText_(page);
        if (!text) return {};
        Text page16 = FromUtf8(text);
        free_(text);
        return page16;
    }

    void* (*bytesNew_)(const void*, std::size_t) = nullptr;
    void (*bytesUnref_)(void*) = nullptr;
    void* (*fromBytes_)(void*, const char*, void**) = nullptr;
    int (*pageCount_)(void*) = nullptr;
    void* (*getPage_)(void*, int) = nullptr;
    char* (*pageText_)(void*) = nullptr;
    void (*unref_)(void*) = nullptr;
    void (*free_)(void*) = nullptr;
    void (*errorFree_)(void*) = nullptr;
    void* (*linkMapping_)(void*) = nullptr;
    void (*freeMapping_)(void*) = nullptr;
    bool hasLinks_ = false;
};

// A loaded library that has every call of one of the two interfaces; null when
// it has neither. The handle is never closed: the library stays for the process.
std::unique_ptr<PdfLibrary> Bind(void* handle) {
    if (::dlsym(handle, "FPDF_LoadMemDocument")) return PdfiumLibrary::Bind(handle);
    return PopplerGlibLibrary::Bind(handle);
}

}  // namespace

std::vector<std::string> DefaultPdfLibraryNames() {
    return {platform::ExecutableFolderNative() + "/libpdfium.so", "libpdfium.so",
            "libpoppler-glib.so.8"};
}

PdfLibrary& LoadPdfLibrary(const std::vector<std::string>& names) {
    static std::map<std::string, std::unique_ptr<PdfLibrary>> loaded;
    for (const std::string& name : names) {
        if (auto it = loaded.find(name); it != loaded.end()) return *it->second;
        void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) continue;
        std::unique_ptr<PdfLibrary> lib = Bind(handle);
        if (!lib) {
            ::dlclose(handle);
            continue;
        }
        return *loaded.emplace(name, std::move(lib)).first->second;
    }
    throw ReadError("no PDF library could be loaded");
}

}  // namespace corvexa
