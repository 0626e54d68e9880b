#pragma once

#include <optional>

#include "engine/text.h"

namespace corvexa::results {

// The address to hand to the desktop for an entry of the results view: a web
// address as it is ("www." gets "http://"), an e-mail address as "mailto:", an
// ftp link as it is, and a bare host or domain name (the host and domain views)
// as "http://name/". Only the schemes http, https, ftp and mailto are ever
// produced; an entry holding spaces or control characters, or naming any other
// scheme, gives nothing.
std::optional<Text> AddressToOpen(TextView entry);

}  // namespace corvexa::results
