#pragma once
// The rows of the mail list (ListView1): one per message file, three columns. A model
// of our own so a folder of tens of thousands of mails is filled in one reset.
#include <QAbstractTableModel>
#include <QString>
#include <vector>

struct MailRow {
  QString subject;
  QString party;  // sender, or recipient in sent-type folders
  QString date;
  QString path;   // the message file; every command finds its file through it
  int icon = 5;   // 5 unread, 6 read
};

class MailListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kPathRole = Qt::UserRole;
  static constexpr int kIconRole = Qt::UserRole + 1;

  explicit MailListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void sSetHeaderText(int column, const QString& text);
  QString fHeaderText(int column) const;

  void sClear();
  void sSetRows(std::vector<MailRow> rows);
  void sAppendRow(MailRow row);
  void sRemoveRow(int row);
  // Removes every row whose file is in `paths`.
  void sRemovePaths(const QStringList& paths);
  const MailRow& fRow(int row) const { return rows_[row]; }
  void sSetIcon(int row, int icon);

 private:
  std::vector<MailRow> rows_;
  QString headers_[3];
};
