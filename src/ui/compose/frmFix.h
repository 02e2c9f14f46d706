#pragma once
// The fixed-phrase window: the phrases the composer offers, kept in setting.ini. It blocks
// the main window while open and writes only on OK.
#include <QDialog>
#include <filesystem>
#include <functional>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmFix : public QDialog {
  Q_OBJECT
 public:
  // Opens the window over `owner` (the main window), which it blocks, for the phrases of
  // `settingsPath` (setting.ini); returns at once.
  static frmFix* sOpen(const std::filesystem::path& settingsPath, QWidget* owner);

  // The box a failed save is told in; when unset, the real message box.
  std::function<void(const QString& text)> messageBox;

  // Buttons 0 OK, 1 キャンセル, 2 追加, 3 編集, 4 削除, 5 クリア.
  void cmdMenu_Click(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  frmFix(std::filesystem::path settingsPath, QWidget* owner);
  void sDeleteRow();
  void sSave();

  std::filesystem::path settingsPath_;
  QTreeWidget* lv = nullptr;
  QPlainTextEdit* txt = nullptr;
  QPushButton* cmdMenu_[6] = {};
};
