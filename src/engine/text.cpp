#include "engine/text.h"

#include "platform/ascii.h"
#include "platform/native_path.h"

namespace corvexa {

Text FromUtf8(std::string_view s) {
    return platform::PathFromNative(s);
}
std::string ToUtf8(TextView t) {
    return platform::NativeFromPath(t);
}

Text LowerExtension(TextView path) {
    std::size_t slash = path.find_last_of(u"/\\");
    TextView name = slash == TextView::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind(u'.');
    if (dot == TextView::npos) return {};
    Text ext(name.substr(dot));
    ascii::LowerInPlace(ext);
    return ext;
}

}  // namespace corvexa
