#pragma once

#include <QStringList>
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <vector>

class QLabel;
class QListWidget;

namespace corvexa::ui {

// Under the results: every place the selected entry was found, one a line
// ("PATH:LINE", a member of an archive as "ARCHIVE//MEMBER:LINE"), or a note
// saying why there is nothing to show. Each place knows the entry of the files
// list it was found in (an archive's member has one of its own); making a
// place the current one asks for that entry to be selected.
class FoundInPanel : public QWidget {
    Q_OBJECT
public:
    // At most this many places are listed; the title says how many there are.
    static constexpr std::size_t kPlacesShown = 1000;

    explicit FoundInPanel(QWidget* parent = nullptr);

    // The places of the selected entry (at most kPlacesShown), of `total`,
    // and for each the index of its entry in the files list.
    void ShowPlaces(const QStringList& places, const std::vector<std::uint64_t>& entries,
                    std::size_t total);
    // Nothing listed; the title says why.
    void ShowNote(const QString& note);

    QString Title() const;
    QStringList Places() const;

signals:
    // A place became the current one: its entry of the files list.
    void entryChosen(quint64 entry);

private:
    QLabel* title_ = nullptr;
    QListWidget* list_ = nullptr;
};

}  // namespace corvexa::ui
