#pragma once

#include <QMimeData>
#include <QString>
#include <memory>
#include <vector>

#include "engine/text.h"

namespace corvexa::ui {

// A path as a shell takes it back: as it is when it holds only characters no
// shell treats specially, otherwise in single quotes, with each byte that is
// not part of valid UTF-8 (and each control character) as $'\xNN', so that
// pasting it names the very file even when its name is not UTF-8.
QString ShellQuoted(const Text& path);

// Copy and drag data for file paths: the exact bytes of each name as a
// file:// URL (percent-encoded), and the shell-quoted paths, one a line, as text.
std::unique_ptr<QMimeData> FileNamesMime(const std::vector<Text>& paths);

}  // namespace corvexa::ui
