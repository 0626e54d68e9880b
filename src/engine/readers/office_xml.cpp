#include "engine/readers/office_xml.h"

#include <algorithm>
#include <cstdlib>

namespace corvexa {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string DecodeEntities(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        // An entity is short: its ';' is looked for close by, so that a text
        // of many '&' and no ';' is read in one pass.
        const std::size_t semicolon =
            v[i] == '&' ? v.substr(i, 11).find(';') : std::string_view::npos;
        const std::size_t end = semicolon == std::string_view::npos ? semicolon : i + semicolon;
        if (end == std::string_view::npos) {
            out += v[i];
            continue;
        }
        const std::string_view name = v.substr(i + 1, end - i - 1);
        static const std::map<std::string_view, char> named = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        if (auto it = named.find(name); it != named.end()) {
            out += it->second;
        } else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* stop = nullptr;
            const unsigned long code = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (digits.empty() || *stop != '\0' || code == 0 || code > 0x10FFFF) {
                out += v.substr(i, end - i + 1);
            } else {
                AppendUtf8(out, static_cast<char32_t>(code));
            }
        } else {
            out += v.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

std::map<std::string, std::string> Attributes(std::string_view xml, std::size_t pos) {
    std::map<std::string, std::string> attributes;
    while (pos < xml.size() && xml[pos] != '>') {
        const std::size_t eq = xml.find('=', pos);
        const std::size_t close = xml.find('>', pos);
        if (eq == std::string_view::npos || eq > close || eq + 1 >= xml.size()) break;
        const char quote = xml[eq + 1];
        const std::size_t valueEnd = xml.find(quote, eq + 2);
        if ((quote != '"' && quote != '\'') || valueEnd == std::string_view::npos) break;
        std::string_view name = xml.substr(pos, eq - pos);
        while (!name.empty() && IsSpace(name.front())) name.remove_prefix(1);
        while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
        attributes[std::string(name)] = DecodeEntities(xml.substr(eq + 2, valueEnd - eq - 2));
        pos = valueEnd + 1;
    }
    return attributes;
}

std::string AttributeValue(const std::map<std::string, std::string>& attributes,
                           std::string_view local) {
    for (const auto& [name, value] : attributes) {
        const std::size_t colon = name.rfind(':');
        if (std::string_view(name).substr(colon == std::string::npos ? 0 : colon + 1) == local)
            return value;
    }
    return {};
}

bool XmlTagReader::Next(XmlTag& tag) {
    const std::size_t size = xml_.size();
    for (;;) {
        const std::size_t lt = xml_.find('<', pos_);
        if (lt == std::string_view::npos || lt + 1 >= size) {
            pos_ = size;
            return false;
        }
        const std::string_view rest = xml_.substr(lt);
        std::string_view skipTo;
        if (rest.substr(0, 4) == "<!--") {
            skipTo = "-->";
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            skipTo = "]]>";
        } else if (rest[1] == '?' || rest[1] == '!') {
            skipTo = ">";
        }
        if (!skipTo.empty()) {
            const std::size_t end = xml_.find(skipTo, lt + 2);
            pos_ = end == std::string_view::npos ? size : end + skipTo.size();
            continue;
        }
        std::size_t p = lt + 1;
        tag.closing = xml_[p] == '/';
        if (tag.closing) ++p;
        const std::size_t nameStart = p;
        while (p < size && !IsSpace(xml_[p]) && xml_[p] != '/' && xml_[p] != '>') ++p;
        // The tag's end: the first '>' outside a quoted attribute value.
        std::size_t gt = p;
        for (;;) {
            gt = xml_.find_first_of("\"'>", gt);
            if (gt == std::string_view::npos || xml_[gt] == '>') break;
            gt = xml_.find(xml_[gt], gt + 1);
            if (gt == std::string_view::npos) break;
            ++gt;
        }
        if (gt == std::string_view::npos) {
            pos_ = size;
            return false;
        }
        const std::string_view name = xml_.substr(nameStart, p - nameStart);
        const std::size_t colon = name.rfind(':');
        tag.start = lt;
        tag.local = colon == std::string_view::npos ? name : name.substr(colon + 1);
        tag.nameEnd = p;
        tag.empty = xml_[gt - 1] == '/';
        const std::size_t textEnd = std::min(xml_.find('<', gt + 1), size);
        tag.text = xml_.substr(gt + 1, textEnd - gt - 1);
        pos_ = gt + 1;
        return true;
    }
}

}  // namespace corvexa
