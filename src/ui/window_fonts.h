#pragma once

#include <QFont>

namespace corvexa::ui {

// The secondary windows' face: Tahoma where it is installed, otherwise the
// system's sans-serif face, at a height in pixels.
QFont TahomaFont(int pixels);

}  // namespace corvexa::ui
