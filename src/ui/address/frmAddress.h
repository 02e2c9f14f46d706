#pragma once
// The address book window: named books of entries (name, address or group of addresses,
// spoken reading, memo). It is opened in one of three modes: editing the books, editing
// them with the fields filled from a mail's sender, or picking recipients for the composer.
#include <QDialog>
#include <QPointer>
#include <filesystem>
#include <functional>
#include <optional>

#include "ui/common/windowrequests.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmAddress : public QDialog {
  Q_OBJECT
 public:
  using Mode = AddressMode;

  using Recipients = RecipientFields;

  using Request = AddressRequest;

  // Opens the one address book window. Edit modes do not block the main window; picking
  // is modal over the composer and appends to its fields on OK. When the window is already
  // open it is raised and keeps the mode it was opened in.
  static frmAddress* sOpen(const Request& request);
  // The open window, or null.
  static frmAddress* fCurrent();

  Mode fMode() const { return mode_; }

  // The boxes the window asks through; when unset, the real input and message boxes.
  std::function<std::optional<QString>(const QString& prompt, const QString& title)> inputBox;
  std::function<void(const QString& text)> messageBox;

  // Buttons 0 to 4 and the menu items, as clicked.
  void cmdMenu_Click(int index);
  void mnuFileItem_Click(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  frmAddress(const Request& request, QWidget* parent);
  void sCreateControls();
  void sCreateMenus();
  void sLayout();
  void sLoadBooks();
  void sFillFromSender(const QString& sender);

  QTreeWidgetItem* fBook() const;
  void sLoadEntries(QTreeWidgetItem* book);
  void sStoreEntries();
  void sSetEntryRow(QTreeWidgetItem* row, const QStringList& values);
  std::optional<QStringList> fFieldsEntry();
  void sEntrySelected(QTreeWidgetItem* row);
  void sAddEntry();
  void sEditEntry();
  void sDeleteEntry();

  void sNewBook();
  void sDeleteBook();
  void sBookRenamed(QTreeWidgetItem* book);
  QStringList fOtherBookNames(const QTreeWidgetItem* except) const;
  void sSortBooks();
  void sSortEntries(int column);

  void sPick(int list, QTreeWidgetItem* entry);
  bool fDropOnPickList(int list, QEvent* event);
  void sAppendPicked();
  void sSaveAndClose();

  std::optional<QString> fInput(const QString& prompt, const QString& title);
  void sMessage(const QString& text);

  std::filesystem::path settingsPath_;
  Mode mode_;
  QPointer<QLineEdit> recipients_[3];  // To, Cc, Bcc; null once the composer is gone

  QTreeWidget* lv_[5] = {};
  QLineEdit* txt_0 = nullptr;
  QPlainTextEdit* txt_1 = nullptr;
  QLineEdit* txt_2 = nullptr;
  QPlainTextEdit* txt_3 = nullptr;
  QWidget* txt_[4] = {};
  QLabel* lbl_[4] = {};
  QPushButton* cmdMenu_[5] = {};
  QMenuBar* menuBar_ = nullptr;
  QMenu* mnuFile_ = nullptr;
  QMenu* mnuAd_ = nullptr;
  QMenu* mnuTo_ = nullptr;
  int popupList_ = 2;                              // the pick list the pick menu was opened over
  Qt::SortOrder bookOrder_ = Qt::DescendingOrder;  // the first click sorts ascending
  int entrySortColumn_ = -1;
  Qt::SortOrder entryOrder_ = Qt::AscendingOrder;
};
