#pragma once
// The address book window: named books of entries (name, address or group of addresses,
// spoken reading, memo). Its mode comes from Form1's Tag at opening: "" edits the books,
// "Address" edits them with the fields filled from the selected mail's sender, "Edit" picks
// recipients for the composer.
#include <QDialog>
#include <functional>
#include <optional>

class Form1;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The composer's fields that picked recipients are appended to.
struct RecipientFields {
  QLineEdit* to = nullptr;
  QLineEdit* cc = nullptr;
  QLineEdit* bcc = nullptr;
};

class frmAddress : public QDialog {
  Q_OBJECT
 public:
  enum class Mode { Edit, Address, Pick };

  using Recipients = RecipientFields;

  // Opens the one address book window in the mode of main->Tag. Edit modes do not block the
  // main window; picking is modal over `composer` and appends to `recipients` on OK. When
  // the window is already open it is raised and keeps the mode it was opened in.
  static frmAddress* sOpen(Form1* main, QWidget* composer = nullptr, Recipients recipients = {});
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
  frmAddress(Form1* main, Mode mode, QWidget* parent, Recipients recipients);
  void sCreateControls();
  void sCreateMenus();
  void sLayout();
  void sLoadBooks();
  void sFillFromSender();

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

  Form1* main_;
  Mode mode_;
  Recipients recipients_;

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
