#include "ui/main/MailListModel.h"

#include "store/mailstore.h"

#include <QIcon>
#include <QMimeData>
#include <QPainter>
#include <QHash>
#include <QSet>
#include <QThreadPool>
#include <QUrl>
#include <algorithm>
#include <numeric>

namespace {

// The state images: a closed envelope for unread mail, an opened one for read mail.
QIcon envelope(bool opened) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 70, 110), 1));
  if (opened) {
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(QRectF(1.5, 6.5, 13, 8));
    p.drawLine(QPointF(1.5, 6.5), QPointF(8, 1.5));
    p.drawLine(QPointF(14.5, 6.5), QPointF(8, 1.5));
    p.drawLine(QPointF(1.5, 6.5), QPointF(8, 11));
    p.drawLine(QPointF(14.5, 6.5), QPointF(8, 11));
  } else {
    p.setBrush(QColor(255, 236, 150));
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.drawLine(QPointF(1.5, 3.5), QPointF(8, 8.5));
    p.drawLine(QPointF(14.5, 3.5), QPointF(8, 8.5));
  }
  return QIcon(pm);
}

const QIcon& stateIcon(int icon) {
  static const QIcon unread = envelope(false);
  static const QIcon read = envelope(true);
  return icon == MailListModel::kRead ? read : unread;
}

}  // namespace

MailListModel::MailListModel(QObject* parent) : QAbstractTableModel(parent) {
  headers_[0] = QStringLiteral("件名");
  headers_[1] = QStringLiteral("差出人");
  headers_[2] = QStringLiteral("日付");
}

// A check still running is waited for: it writes the folder's cache.
MailListModel::~MailListModel() { checks_.reset(); }

int MailListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : folderColumn_ ? 4 : 3;
}

void MailListModel::sSetFolderColumn(bool shown) {
  if (folderColumn_ == shown) return;
  beginResetModel();
  folderColumn_ = shown;
  if (!shown && sortColumn_ == 3) sortColumn_ = 2;
  endResetModel();
}

QVariant MailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const MailRow& r = rows_[index.row()].row;
  switch (role) {
    case Qt::DisplayRole:
      return index.column() == 0   ? r.subject
             : index.column() == 1 ? r.party
             : index.column() == 2 ? r.date
                                   : r.folder;
    case Qt::DecorationRole:
      if (index.column() == 0) return stateIcon(r.icon);
      return {};
    case Qt::BackgroundRole:
      if (striped && striped()) return index.row() % 2 ? kStripe : QColor(255, 255, 255);
      return {};
    case kPathRole:
      return r.path;
    case kIconRole:
      return r.icon;
    default:
      return {};
  }
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0) return {};
  if (section == 3 && folderColumn_) return QStringLiteral("フォルダ");
  return section <= 2 ? headers_[section] : QVariant();
}

Qt::ItemFlags MailListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList MailListModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* MailListModel::mimeData(const QModelIndexList& indexes) const {
  // The file list of the selected rows, from the last row to the first.
  std::vector<int> rows;
  for (const QModelIndex& i : indexes) {
    if (i.isValid()) rows.push_back(i.row());
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  QList<QUrl> urls;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) urls << QUrl::fromLocalFile(rows_[*it].row.path);
  auto* mime = new QMimeData;
  mime->setUrls(urls);
  if (dragStarted) dragStarted();
  return mime;
}

Qt::DropActions MailListModel::supportedDragActions() const { return Qt::CopyAction | Qt::MoveAction; }

void MailListModel::sSetHeaderText(int column, const QString& text) {
  if (column < 0 || column > 2 || headers_[column] == text) return;
  headers_[column] = text;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

QString MailListModel::fHeaderText(int column) const {
  return column >= 0 && column <= 2 ? headers_[column] : QString();
}

MailListModel::Entry MailListModel::fEntry(MailRow row) {
  Entry e;
  e.row = std::move(row);
  e.seq = nextSeq_++;
  return e;
}

QString MailListModel::sortKey(const MailRow& row) const {
  const QString& text = sortColumn_ == 0   ? row.subject
                        : sortColumn_ == 1 ? row.party
                        : sortColumn_ == 2 ? row.date
                                           : row.folder;
  return text.toCaseFolded();
}

bool MailListModel::fLess(const QString& x, quint64 xs, const QString& y, quint64 ys) const {
  const int c = QString::compare(x, y, Qt::CaseSensitive);
  if (c != 0) return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
  return xs < ys;
}

std::vector<int> MailListModel::sortRows() {
  // The keys of the sorted column only, once per sort; the rows are moved once, after
  // their order is known.
  const int n = static_cast<int>(rows_.size());
  std::vector<QString> keys(n);
  for (int i = 0; i < n; ++i) keys[i] = sortKey(rows_[i].row);
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(),
            [&](int a, int b) { return fLess(keys[a], rows_[a].seq, keys[b], rows_[b].seq); });
  std::vector<Entry> sorted;
  sorted.reserve(n);
  std::vector<int> placeOf(n);
  for (int k = 0; k < n; ++k) {
    placeOf[order[k]] = k;
    sorted.push_back(std::move(rows_[order[k]]));
  }
  rows_.swap(sorted);
  return placeOf;
}

void MailListModel::sClear() {
  ++fills_;
  if (rows_.empty()) return;
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void MailListModel::sSetRows(std::vector<MailRow> rows) {
  ++fills_;
  beginResetModel();
  rows_.clear();
  rows_.reserve(rows.size());
  for (MailRow& r : rows) rows_.push_back(fEntry(std::move(r)));
  sortRows();
  endResetModel();
}

void MailListModel::sAppendRow(MailRow row) {
  Entry e = fEntry(std::move(row));
  const QString key = sortKey(e.row);
  auto at = std::upper_bound(rows_.begin(), rows_.end(), e, [&](const Entry& value, const Entry& b) {
    return fLess(key, value.seq, sortKey(b.row), b.seq);
  });
  int n = static_cast<int>(at - rows_.begin());
  beginInsertRows({}, n, n);
  rows_.insert(at, std::move(e));
  endInsertRows();
}

void MailListModel::sRemoveRow(int row) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void MailListModel::sRemoveRows(std::vector<int> rows) {
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // Runs of neighbouring rows go in one removal, from the bottom up.
  for (int i = static_cast<int>(rows.size()) - 1; i >= 0;) {
    int last = rows[i], first = last;
    while (i > 0 && rows[i - 1] == first - 1) first = rows[--i];
    --i;
    if (first < 0 || last >= static_cast<int>(rows_.size())) continue;
    beginRemoveRows({}, first, last);
    rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
    endRemoveRows();
  }
}

void MailListModel::sRemovePaths(const QStringList& paths) {
  QSet<QString> gone(paths.begin(), paths.end());
  std::vector<int> rows;
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (gone.contains(rows_[i].row.path)) rows.push_back(i);
  }
  sRemoveRows(std::move(rows));
}

void MailListModel::sSetIcon(int row, int icon) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  rows_[row].row.icon = icon;
  emit dataChanged(index(row, 0), index(row, 2), {kIconRole, Qt::DecorationRole});
}

int MailListModel::fFindPath(const QString& path) const {
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (rows_[i].row.path == path) return i;
  }
  return -1;
}

void MailListModel::sSetSort(int column, Qt::SortOrder order) {
  if (column < 0 || column > (folderColumn_ ? 3 : 2)) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // Persistent indexes (the selection, the current row) follow their rows.
  const QModelIndexList before = persistentIndexList();
  sortColumn_ = column;
  sortOrder_ = order;
  const std::vector<int> placeOf = sortRows();
  if (!before.isEmpty()) {
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before) after << index(placeOf[i.row()], i.column());
    changePersistentIndexList(before, after);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<MailRow> MailListModel::rowsOf(const maillist::Listing& listing) {
  // The folder's part of every path, spelled as a path of the folder would be.
  QString prefix = QString::fromStdString(mailstore::fUtf8(listing.folder / "x"));
  prefix.chop(1);
  std::vector<MailRow> rows;
  rows.reserve(listing.mails.size());
  auto text = [](std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); };
  for (const maillist::Listed& m : listing.mails) {
    MailRow row;
    row.subject = text(m.subject);
    row.party = text(m.party);
    row.date = text(m.date);
    row.path = prefix + text(m.name);
    row.icon = m.read ? kRead : kUnread;
    rows.push_back(std::move(row));
  }
  return rows;
}

void MailListModel::checkLater(maillist::Listing listing) {
  if (!listing.needsCheck()) return;
  if (!checks_) {
    checks_ = std::make_unique<QThreadPool>();
    checks_->setMaxThreadCount(1);
  }
  QString prefix = QString::fromStdString(mailstore::fUtf8(listing.folder / "x"));
  prefix.chop(1);
  auto pending = std::make_shared<maillist::Listing>(std::move(listing));
  const quint64 fill = fills_;
  // The pool is waited for before this model goes, so the answer always finds it.
  checks_->start([this, pending, fill, prefix] {
    auto changes = std::make_shared<std::vector<maillist::Change>>(pending->check());
    QMetaObject::invokeMethod(
        this, [this, changes, fill, prefix] {
          if (fill == fills_) applyChanges(prefix, *changes);
        },
        Qt::QueuedConnection);
  });
}

void MailListModel::applyChanges(const QString& prefix, const std::vector<maillist::Change>& changes) {
  if (!changes.empty()) {
    QHash<QString, int> rowOf;
    rowOf.reserve(static_cast<qsizetype>(rows_.size()));
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) rowOf.insert(rows_[i].row.path, i);
    for (const maillist::Change& c : changes) {
      const auto it = rowOf.constFind(prefix + QString::fromStdString(c.name));
      if (it == rowOf.cend()) continue;
      MailRow& row = rows_[*it].row;
      row.subject = QString::fromStdString(c.headers.subject);
      row.party = QString::fromStdString(c.headers.party);
      row.date = QString::fromStdString(c.headers.date);
      emit dataChanged(index(*it, 0), index(*it, 2), {Qt::DisplayRole});
    }
    sSetSort(sortColumn_, sortOrder_);  // a corrected text may sort elsewhere
  }
  emit checked(static_cast<int>(changes.size()));
}

MailRow MailListModel::fRowOf(const maillist::Entry& entry) {
  MailRow row;
  row.subject = QString::fromStdString(entry.headers.subject);
  row.party = QString::fromStdString(entry.headers.party);
  row.date = QString::fromStdString(entry.headers.date);
  row.path = QString::fromStdString(mailstore::fUtf8(entry.file));
  row.icon = entry.read ? kRead : kUnread;
  return row;
}
