#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvexa {

// The sockets the office suite makes in a place of its own choosing (the
// folder of pipes its runtime uses, /tmp), which stay when it is killed: the
// one a second start on the same profile finds it by, named after an MD5
// digest of the profile's address (profileUrl, as the suite was given it), and,
// when pipeName is not empty, the pipe it takes a bridge's connection on.
std::vector<std::string> OfficeSockets(const std::string& profileUrl,
                                       const std::string& pipeName = {});

// The MD5 digest (RFC 1321) of bytes.
std::array<std::uint8_t, 16> Md5(std::string_view bytes);

}  // namespace corvexa
