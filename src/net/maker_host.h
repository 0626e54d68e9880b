#pragma once

#include <QString>

namespace corvexa::net {

// The host of the maker's web server. CORVEXA_MAKER_HOST overrides it (tests
// point it at a server on 127.0.0.1, with a port if need be).
QString MakerHost();

// "http://" + host + "/help/" + the product name with its ASCII letters in
// lower case and every space turned into "-" + "/".
QString HelpAddress(const QString& productName);

// The maker's home page: "https://" + host + "/".
QString HomePage();

}  // namespace corvexa::net
