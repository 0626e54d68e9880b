#pragma once

#include <QBoxLayout>
#include <QFont>
#include <QIcon>
#include <QMargins>
#include <QString>
#include <QWidget>

namespace corvexa::ui {

// The smallest width of the files panel and the results panel.
inline constexpr int kMinimumPanelWidth = 160;

// One of the program's icons (resources/icons/<name>.svg).
QIcon Icon(const char* name);

// The window's base face (Tahoma where it is installed, otherwise the
// system's sans-serif face) at a size in pixels.
QFont PixelFont(int pixels, bool bold = false);

// A widget with an object name (the name tests and the design know it by).
template <class W>
W* Named(const char* name, QWidget* parent = nullptr) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A box layout on a widget with the given margins and spacing (-1: the style's).
template <class Layout>
Layout* Box(QWidget* owner, const QMargins& margins, int spacing) {
    auto* layout = new Layout(owner);
    layout->setContentsMargins(margins);
    if (spacing >= 0) layout->setSpacing(spacing);
    return layout;
}

}  // namespace corvexa::ui
