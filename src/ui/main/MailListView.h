#pragma once
// The mail list control (ListView1): it lists a folder's mails into its own model, sorts
// them by a column's header, and knows the file of the current row. It tells its owner
// when a key moved the current row (so the mail there is shown, as a click shows it) and
// when a drag it started has ended, however it ended.
#include <QString>
#include <QTreeView>
#include <array>
#include <filesystem>
#include <functional>

#include "mail/maillist.h"

class MailListModel;

class MailListView : public QTreeView {
 public:
  explicit MailListView(QWidget* parent = nullptr);

  MailListModel* mails() const { return mails_; }

  // Lists the mails of `folder` in place of the rows there were; the first row is made
  // current but not shown. The number of rows listed.
  int fill(const std::filesystem::path& folder, bool sentType);
  // Rows already read for mails just filed into `folder`: the next received-type fill of
  // that folder takes them instead of reading those files again.
  void setKnownRows(std::filesystem::path folder, maillist::KnownHeaders known);
  // Adds one mail file's row.
  void addMail(const std::filesystem::path& file, bool sentType);
  // The header click on a column (from 0): sorted by it, the order turned on a second click.
  void sortByColumn(int column);
  // The file of the current row; empty when there is none.
  QString currentPath() const;

  // Column widths that show whole dates within `listWidth`, in the fonts in use.
  std::array<int, 3> defaultColumnWidths(int listWidth) const;

  // The grid between rows and columns, as in a report-style list.
  QColor gridColor() const;

  std::function<void()> currentMovedByKey;
  std::function<void()> dragEnded;

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;

 private:
  MailListModel* mails_;
  std::filesystem::path knownFolder_;  // in normal form
  maillist::KnownHeaders knownRows_;
};
