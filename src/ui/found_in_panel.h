#pragma once

#include <QStringList>
#include <QWidget>
#include <cstddef>

class QLabel;
class QListWidget;

namespace corvexa::ui {

// Under the results: every place the selected entry was found, one a line
// ("PATH:LINE", a member of an archive as "ARCHIVE//MEMBER:LINE"), or a note
// saying why there is nothing to show.
class FoundInPanel : public QWidget {
    Q_OBJECT
public:
    // At most this many places are listed; the title says how many there are.
    static constexpr std::size_t kPlacesShown = 1000;

    explicit FoundInPanel(QWidget* parent = nullptr);

    // The places of the selected entry (at most kPlacesShown), of `total`.
    void ShowPlaces(const QStringList& places, std::size_t total);
    // Nothing listed; the title says why.
    void ShowNote(const QString& note);

    QString Title() const;
    QStringList Places() const;

private:
    QLabel* title_ = nullptr;
    QListWidget* list_ = nullptr;
};

}  // namespace corvexa::ui
