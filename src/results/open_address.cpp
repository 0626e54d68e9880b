#include "results/open_address.h"

#include "platform/ascii.h"

namespace corvexa::results {
namespace {

bool StartsWithNoCase(TextView text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (ascii::ToLower(text[i]) != prefix[i]) return false;
    }
    return true;
}

bool IsHostChar(char16_t c) {
    return ascii::IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c >= 0x80;
}

}  // namespace

std::optional<Text> AddressToOpen(TextView entry) {
    if (entry.empty()) return std::nullopt;
    for (char16_t c : entry)
        if (c <= u' ' || c == 0x7F) return std::nullopt;

    for (std::u16string_view scheme : {u"http://", u"https://", u"ftp://", u"mailto:"}) {
        if (!StartsWithNoCase(entry, scheme)) continue;
        if (entry.size() == scheme.size()) return std::nullopt;
        return Text(entry);
    }
    if (entry.find(u"://") != TextView::npos) return std::nullopt;  // any other scheme
    if (StartsWithNoCase(entry, u"www.")) return Text(u"http://") + Text(entry);

    const std::size_t at = entry.find(u'@');
    if (at != TextView::npos) {
        if (at == 0 || at + 1 >= entry.size() || entry.find(u'/') != TextView::npos)
            return std::nullopt;
        return Text(u"mailto:") + Text(entry);
    }
    // A host or domain name.
    if (entry.find(u'.') == TextView::npos) return std::nullopt;
    for (char16_t c : entry)
        if (!IsHostChar(c)) return std::nullopt;
    return Text(u"http://") + Text(entry) + u"/";
}

}  // namespace corvexa::results
