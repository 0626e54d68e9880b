#include "results/places.h"

#include "platform/native_path.h"
#include "results/derive.h"

namespace corvexa::results {

std::string PathColumn(TextView path) {
    const std::string native = platform::NativeFromPath(path);
    std::string out;
    out.reserve(native.size());
    for (char c : native) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string PlaceColumn(const FindingOrigins::Origin& origin, const SharedList& files) {
    Text file;
    std::string out = files.TryAt(origin.file, file) ? PathColumn(file) : std::string();
    if (!origin.member.empty()) out += "//" + PathColumn(FromUtf8(origin.member));
    return out;
}

FindingMatches FindingsOf(const SharedList& findings, ViewMode mode, TextView entry,
                          std::size_t limit) {
    FindingMatches out;
    std::size_t i = 0;
    findings.ForEachBatched([&](TextView finding) {
        bool match = false;
        switch (mode) {
            case ViewMode::Url:
                match = finding == entry;
                break;
            case ViewMode::Host:
                match = HostViewEntry(finding) == entry;
                break;
            case ViewMode::Domain:
                match = DomainViewEntry(finding) == entry;
                break;
        }
        if (match) {
            if (out.first.size() < limit) out.first.push_back(i);
            ++out.total;
        }
        ++i;
    });
    return out;
}

}  // namespace corvexa::results
