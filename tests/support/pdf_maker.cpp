#include "support/pdf_maker.h"

#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <memory>
#include <stdexcept>

namespace corvexa::test {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80             ? 1
                    : (b & 0xE0) == 0xC0 ? 2
                    : (b & 0xF0) == 0xE0 ? 3
                    : (b & 0xF8) == 0xF0 ? 4
                                         : 0;
    if (n == 0 || i + n > s.size()) return 0;
    if (n == 2 && b < 0xC2) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// What cairo can set: valid UTF-8 without control characters; tabs become spaces.
std::string Printable(const std::string& line) {
    std::string out;
    for (std::size_t i = 0; i < line.size();) {
        const auto b = static_cast<unsigned char>(line[i]);
        std::size_t n = Utf8Length(line, i);
        if (b == '\t') {
            out += "    ";
            n = 1;
        } else if (n == 0 || (n == 1 && (b < 0x20 || b == 0x7F))) {
            out += '?';
            n = 1;
        } else {
            out.append(line, i, n);
        }
        i += n;
    }
    return out;
}

// The font, straight from its file: no font configuration is consulted, so
// nothing of it is left cached when a leak check runs at exit. Kept for the
// process.
cairo_font_face_t* MonospacedFont() {
    static FT_Library library = nullptr;
    static FT_Face face = nullptr;
    static cairo_font_face_t* font = nullptr;
    if (!font) {
        if (!library && FT_Init_FreeType(&library) != 0)
            throw std::runtime_error("cannot start FreeType");
        const char* file = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
        if (FT_New_Face(library, file, 0, &face) != 0)
            throw std::runtime_error(std::string("cannot load ") + file);
        font = cairo_ft_font_face_create_for_ft_face(face, 0);
    }
    return font;
}

}  // namespace

void WritePdf(const std::string& path, const std::vector<std::vector<std::string>>& pages) {
    WritePdf(path, pages, {});
}

void WritePdf(const std::string& path, const std::vector<std::vector<std::string>>& pages,
              const std::vector<PdfLink>& links) {
    constexpr double kWidth = 595, kHeight = 842, kMargin = 36, kSize = 9, kLead = 11;
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> surface(
        cairo_pdf_surface_create(path.c_str(), kWidth, kHeight), cairo_surface_destroy);
    std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(surface.get()), cairo_destroy);
    cairo_set_font_face(cr.get(), MonospacedFont());
    cairo_set_font_size(cr.get(), kSize);
    for (std::size_t number = 0; number < pages.size(); ++number) {
        const auto& page = pages[number];
        double y = kMargin + kSize;
        for (const std::string& line : page) {
            if (y > kHeight - kMargin) break;
            const std::string text = Printable(line);
            if (!text.empty()) {
                cairo_move_to(cr.get(), kMargin, y);
                cairo_show_text(cr.get(), text.c_str());
            }
            y += kLead;
        }
        for (const PdfLink& link : links) {
            if (link.page != number) continue;
            const std::string attributes = "uri='" + link.uri + "'";
            cairo_tag_begin(cr.get(), CAIRO_TAG_LINK, attributes.c_str());
            cairo_move_to(cr.get(), kMargin, y);
            cairo_show_text(cr.get(), Printable(link.caption).c_str());
            cairo_tag_end(cr.get(), CAIRO_TAG_LINK);
            y += kLead;
        }
        cairo_show_page(cr.get());
    }
    cr.reset();
    cairo_surface_finish(surface.get());
    const cairo_status_t status = cairo_surface_status(surface.get());
    surface.reset();
    if (status != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot write " + path + ": " + cairo_status_to_string(status));
}

std::vector<std::vector<std::string>> Paginate(const std::string& text, std::size_t linesPerPage,
                                               std::size_t width) {
    std::vector<std::vector<std::string>> pages(1);
    auto add = [&](std::string line) {
        if (pages.back().size() >= linesPerPage) pages.emplace_back();
        pages.back().push_back(std::move(line));
    };
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        do {
            add(line.substr(0, width));
            line = line.size() > width ? line.substr(width) : std::string();
        } while (!line.empty());
        start = end + 1;
    }
    return pages;
}

}  // namespace corvexa::test
