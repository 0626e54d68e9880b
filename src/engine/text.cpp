#include "engine/text.h"

#include "platform/native_path.h"

namespace corvexa {

Text FromUtf8(std::string_view s) { return platform::PathFromNative(s); }
std::string ToUtf8(TextView t) { return platform::NativeFromPath(t); }

}  // namespace corvexa
