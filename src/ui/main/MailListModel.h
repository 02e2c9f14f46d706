#pragma once
// The rows of the mail list (ListView1): one per message file, three columns. A model
// of our own so a folder of tens of thousands of mails is filled in one reset and
// re-sorted by permuting an index instead of moving rows.
#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "mail/maillist.h"

struct MailRow {
  QString subject;
  QString party;  // sender, or recipient in sent-type folders
  QString date;
  QString path;   // the message file; every command finds its file through it
  int icon = 5;   // 5 unread, 6 read
  QString folder{};  // where the mail lives, shown while search hits from every folder are listed
};

class MailListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The row that shows a listed mail.
  static MailRow fRowOf(const maillist::Entry& entry);
  // The rows of a folder's listing.
  static std::vector<MailRow> rowsOf(const maillist::Listing& listing);
  static constexpr int kPathRole = Qt::UserRole;
  static constexpr int kIconRole = Qt::UserRole + 1;
  static constexpr int kUnread = 5;
  static constexpr int kRead = 6;
  // The background of odd rows while the list is striped.
  static inline const QColor kStripe = QColor(240, 240, 255);

  explicit MailListModel(QObject* parent = nullptr);
  ~MailListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override;

  void sSetHeaderText(int column, const QString& text);
  QString fHeaderText(int column) const;

  void sClear();
  // Replaces every row; the rows take their sorted places, equal texts in the given order.
  void sSetRows(std::vector<MailRow> rows);
  void sAppendRow(MailRow row);
  void sRemoveRow(int row);
  // Removes every row whose file is in `paths`.
  void sRemovePaths(const QStringList& paths);
  // Removes the rows at these display positions in one pass.
  void sRemoveRows(std::vector<int> rows);
  // Checks the rows of the listing just set on another thread (maillist::Listing::check)
  // and corrects the rows whose files changed; `checked` tells when it is done. Nothing
  // comes of it when other rows are set meanwhile.
  void checkLater(maillist::Listing listing);
  // Rows in display (sorted) order.
  const MailRow& fRow(int row) const { return rows_[row].row; }
  void sSetIcon(int row, int icon);
  // The display row of a file; -1 when it is not listed.
  int fFindPath(const QString& path) const;

  // A fourth column, the folder of each mail, for search hits from every folder.
  void sSetFolderColumn(bool shown);
  bool fFolderColumn() const { return folderColumn_; }

  // Sorting by the text of one column (0 to 2, 3 while the folder column is shown). The setting stays across refills.
  void sSetSort(int column, Qt::SortOrder order);
  int fSortColumn() const { return sortColumn_; }
  Qt::SortOrder fSortOrder() const { return sortOrder_; }

  // Asked while rows are drawn: striped rows alternate white and kStripe.
  std::function<bool()> striped;
  // Called when a drag of rows starts (the list remembers where it came from).
  std::function<void()> dragStarted;

 signals:
  // The check of a listing is done; `changed` rows were corrected.
  void checked(int changed);

 private:
  // A row and the order it was added in, which keeps equal texts in enumeration order.
  struct Entry {
    MailRow row;
    quint64 seq = 0;
  };
  Entry fEntry(MailRow row);
  // The text a column sorts by: case-folded (a text without capitals shares its data).
  QString sortKey(const MailRow& row) const;
  bool fLess(const QString& x, quint64 xs, const QString& y, quint64 ys) const;
  // Sorts the rows; the new place of each row by its old one.
  std::vector<int> sortRows();
  void applyChanges(const QString& folder, const std::vector<maillist::Change>& changes);

  std::vector<Entry> rows_;  // in display order
  quint64 nextSeq_ = 0;
  quint64 fills_ = 0;  // rows set so far: a check answers only for its own
  std::unique_ptr<class QThreadPool> checks_;
  QString headers_[3];
  bool folderColumn_ = false;
  int sortColumn_ = 2;
  Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
};
