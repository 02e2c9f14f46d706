#include "app/MailListModel.h"

#include <QSet>
#include <algorithm>

MailListModel::MailListModel(QObject* parent) : QAbstractTableModel(parent) {
  headers_[0] = QStringLiteral("件名");
  headers_[1] = QStringLiteral("差出人");
  headers_[2] = QStringLiteral("日付");
}

int MailListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant MailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const MailRow& r = rows_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == 0 ? r.subject : index.column() == 1 ? r.party : r.date;
    case kPathRole:
      return r.path;
    case kIconRole:
      return r.icon;
    default:
      return {};
  }
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 2) return {};
  return headers_[section];
}

Qt::ItemFlags MailListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

void MailListModel::sSetHeaderText(int column, const QString& text) {
  if (column < 0 || column > 2 || headers_[column] == text) return;
  headers_[column] = text;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

QString MailListModel::fHeaderText(int column) const {
  return column >= 0 && column <= 2 ? headers_[column] : QString();
}

void MailListModel::sClear() {
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void MailListModel::sSetRows(std::vector<MailRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void MailListModel::sAppendRow(MailRow row) {
  int n = static_cast<int>(rows_.size());
  beginInsertRows({}, n, n);
  rows_.push_back(std::move(row));
  endInsertRows();
}

void MailListModel::sRemoveRow(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void MailListModel::sRemovePaths(const QStringList& paths) {
  QSet<QString> gone(paths.begin(), paths.end());
  for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
    if (gone.contains(rows_[i].path)) sRemoveRow(i);
  }
}

void MailListModel::sSetIcon(int row, int icon) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[row].icon = icon;
  emit dataChanged(index(row, 0), index(row, 2), {kIconRole});
}
