#pragma once

#include <QString>

namespace corvexa::net {

// The host of the maker's web server. CORVEXA_MAKER_HOST overrides it (tests
// point it at a server on 127.0.0.1, with a port if need be).
QString MakerHost();

// "https://" + host + "/help/" + the product name with its ASCII letters in
// lower case and every space turned into "-" + "/".
QString HelpAddress(const QString& productName);

// An address on the maker's web server: "https://" + host + path. Every
// address of the maker is secure.
QString MakerAddress(const QString& path);

// The maker's pages the program links to, each MakerAddress of its path: the
// home page "/", the credits "/blog/credits-and-acknowledgements/", how to
// uninstall "/blog/how-to-uninstall-kelmare-software/" and the translation
// page "/translation/".
QString HomePage();
QString CreditsPage();
QString UninstallPage();
QString TranslationPage();

}  // namespace corvexa::net
