#include "ui/list_models.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "ui/file_name_mime.h"

namespace corvexa::ui {

int ViewRows(std::size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

ResultsModel::ResultsModel(ListSource source, QObject* parent)
    : QAbstractTableModel(parent), source_(std::move(source)) {}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QString ResultsModel::RowText(int row) const {
    if (row < 0 || row >= rows_) return {};
    Text text;
    if (!source_().TryAt(EntryOf(row), text)) return {};
    return QString::fromStdU16String(text);
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    return RowText(index.row());
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
        return QStringLiteral("Item");
    return {};
}

void ResultsModel::SetRowCount(int rows) {
    if (rows < 0) rows = 0;
    if (rows > rows_) {
        beginInsertRows({}, rows_, rows - 1);
        rows_ = rows;
        endInsertRows();
    } else if (rows < rows_) {
        beginRemoveRows({}, rows, rows_ - 1);
        rows_ = rows;
        endRemoveRows();
    }
}

void ResultsModel::ResetRowCount(int rows) {
    ShowAll(rows);
}

void ResultsModel::ShowAll(int rows) {
    beginResetModel();
    filtered_ = false;
    map_.clear();
    rows_ = rows < 0 ? 0 : rows;
    endResetModel();
}

void ResultsModel::ShowOnly(std::vector<std::uint32_t> entries) {
    beginResetModel();
    filtered_ = true;
    map_ = std::move(entries);
    rows_ = ViewRows(map_.size());
    endResetModel();
}

void ResultsModel::AppendShown(const std::vector<std::uint32_t>& entries) {
    const int rows = ViewRows(map_.size() + entries.size());
    if (entries.empty() || rows <= rows_) return;
    beginInsertRows({}, rows_, rows - 1);
    map_.insert(map_.end(), entries.begin(), entries.end());
    rows_ = rows;
    endInsertRows();
}

std::size_t ResultsModel::EntryOf(int row) const {
    const auto r = static_cast<std::size_t>(row);
    return filtered_ ? (r < map_.size() ? map_[r] : SIZE_MAX) : r;
}

FilesModel::FilesModel(SharedList& files, QObject* parent)
    : QAbstractListModel(parent), files_(files), rows_(ViewRows(files.Size())) {}

int FilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

QVariant FilesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    Text text;
    if (!files_.TryAt(static_cast<std::size_t>(index.row()), text)) return {};
    return QString::fromStdU16String(text);
}

Qt::ItemFlags FilesModel::flags(const QModelIndex& index) const {
    return QAbstractListModel::flags(index) |
           (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

QStringList FilesModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};
}

QMimeData* FilesModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<Text> paths;
    Text path;
    for (int row : rows)
        if (files_.TryAt(static_cast<std::size_t>(row), path)) paths.push_back(path);
    return FileNamesMime(paths).release();
}

void FilesModel::EntriesAdded(std::size_t count) {
    const int size = ViewRows(files_.Size());
    const int rows = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(rows_) + count,
                                                            static_cast<std::size_t>(size)));
    if (rows <= rows_) return;
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
}

void FilesModel::Refresh() {
    beginResetModel();
    rows_ = ViewRows(files_.Size());
    endResetModel();
}

}  // namespace corvexa::ui
