#pragma once

#include <QIcon>
#include <QString>

namespace corvexa::ui {

// The name of the flag picture for a language name, by its exact text: "flag"
// (the small generic flag) for English, a country's code for the languages the
// program ships or expects ("de" for German, "vi" for Vietnamese, ...), and "xx"
// (a blank white flag) for any other name.
QString FlagImageName(const QString& languageName);

// The picture of that name, from the program's resources: sharp at any size.
// Country flags keep their 4:3 shape, centred in the square the icon is asked for.
QIcon FlagIcon(const QString& imageName);

}  // namespace corvexa::ui
