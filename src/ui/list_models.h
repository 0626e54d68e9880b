#pragma once

#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/shared_list.h"

namespace corvexa::ui {

// The results view's model: it holds only a row count. A row's text is asked
// for when the row is drawn or read, from whatever list the view mode names.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using ListSource = std::function<const SharedList&()>;
    explicit ResultsModel(ListSource source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int RowCount() const { return rows_; }
    // Raises or lowers the row count; rows already shown keep their place.
    void SetRowCount(int rows);
    // The row count for a list that was replaced or switched: every row is
    // asked for anew.
    void ResetRowCount(int rows);
    // The text of a row, as the view shows it.
    QString RowText(int row) const;

    // A filtered view shows only the list entries at the given indices
    // (ascending); every row is asked for anew. Without a map, row i is entry i.
    void ShowOnly(std::vector<std::uint32_t> entries);
    void ShowAll(int rows);
    // More entries (ascending, after those shown) for a filtered view.
    void AppendShown(const std::vector<std::uint32_t>& entries);
    bool Filtered() const { return filtered_; }
    const std::vector<std::uint32_t>& ShownEntries() const { return map_; }
    // The list index of a row.
    std::size_t EntryOf(int row) const;

private:
    ListSource source_;
    int rows_ = 0;
    bool filtered_ = false;
    std::vector<std::uint32_t> map_;
};

// The files list box's model: the shared files list, as many entries as the
// window has taken notice of (the collector may be a step ahead).
class FilesModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit FilesModel(SharedList& files, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    SharedList& Files() { return files_; }
    // Entries can be dragged out as files (see FileNamesMime).
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // More entries at the end (the walk found files).
    void EntriesAdded(std::size_t count);
    // The list changed as a whole (cleared, loaded, appended to, rows removed).
    void Refresh();

private:
    SharedList& files_;
    int rows_ = 0;
};

// Clamps a list size to what a view can show.
int ViewRows(std::size_t size);

}  // namespace corvexa::ui
