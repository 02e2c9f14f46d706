// The File menu's account and folder commands over a real program folder: the store on
// disk and the tree must agree after every command, also when a command is refused.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "windowfixture.h"
#include "store/folderTree.h"

using namespace fixture;
using M = Form1::Menu;

namespace {

struct Asked {
  QString title;
  QString text;
};

// Answers the command's boxes and records what they said.
struct Boxes {
  QList<Asked> confirms, messages, inputs;
  bool confirmAnswer = true;
  std::optional<QString> inputAnswer;

  void install(Form1& form) {
    form.setConfirmBox([this](const QString& title, const QString& text) {
      confirms << Asked{title, text};
      return confirmAnswer;
    });
    form.setMessageBox([this](const QString& title, const QString& text) {
      messages << Asked{title, text};
    });
    form.setInputBox([this](const QString& prompt, const QString& title) {
      inputs << Asked{title, prompt};
      return inputAnswer;
    });
  }
};

void select(Form1& form, const QString& key) {
  QTreeWidgetItem* node = form.fNode(key);
  QVERIFY2(node, qPrintable(key));
  for (QTreeWidgetItem* p = node->parent(); p; p = p->parent()) p->setExpanded(true);
  form.fTree()->scrollToItem(node);
  QTest::mousePress(form.fTree()->viewport(), Qt::LeftButton, {},
                    form.fTree()->visualItemRect(node).center());
  QCOMPARE(form.fTree()->currentItem(), node);
}

QStringList childKeys(QTreeWidgetItem* node) {
  QStringList keys;
  for (int i = 0; i < node->childCount(); ++i) keys << FolderTree::fKey(node->child(i));
  return keys;
}

QStringList rootKeys(Form1& form) {
  QStringList keys;
  for (int i = 0; i < form.fTree()->topLevelItemCount(); ++i)
    keys << FolderTree::fKey(form.fTree()->topLevelItem(i));
  return keys;
}

// Every directory below the program folder, to show that a refused command made none.
QStringList allDirs(const fs::path& program) {
  QStringList dirs;
  for (const auto& e : fs::recursive_directory_iterator(program)) {
    if (e.is_directory()) dirs << QString::fromStdString(u8(e.path()));
  }
  dirs.sort();
  return dirs;
}

// Runs `act` on the next modal window (a dialog opened with exec) once it is up. The
// returned watcher is deleted by the caller when no window is expected after all.
QTimer* onModal(std::function<void(QWidget*)> act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, act] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    act(modal);
  });
  poll->start();
  return poll;
}

void click(QWidget* dialog, const char* button) {
  auto* b = dialog->findChild<QPushButton*>(button);
  QVERIFY2(b, button);
  b->click();
}

// A file that not even root can delete, for the "could not be removed" paths.
// Makes a file undeletable for the test: the file system's immutable flag where it
// has one and we may set it (root), else a folder without write permission (which only
// root could ignore).
class Immutable {
 public:
  explicit Immutable(const fs::path& file) : file_(file) {
    set(true);
    if (!ok_ && ::geteuid() != 0) {
      std::error_code ec;
      fs::permissions(file_.parent_path(),
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove, ec);
      ok_ = locked_ = !ec;
    }
  }
  ~Immutable() {
    set(false);
    std::error_code ec;
    if (locked_)
      fs::permissions(file_.parent_path(), fs::perms::owner_write, fs::perm_options::add, ec);
  }
  bool ok() const { return ok_; }

 private:
  void set(bool on) {
    int fd = ::open(file_.c_str(), O_RDONLY);
    if (fd < 0) return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      bool done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      if (on) ok_ = done;
    }
    ::close(fd);
  }
  fs::path file_;
  bool ok_ = false, locked_ = false;
};

}  // namespace

class FilesTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void addAccountTakesTheLowestFreeNumber();
  void addAccountStopsAtNinetyNine();
  void deleteAccountRenumbersAndRebuilds();
  void deleteAccountThatCannotBeRemoved();
  void accountSettingsStopsAndRearmsTheTimer();
  void createAndDeleteFolders();
  void refusedFolderNamesCreateNothing();
  void emptyTrash();
  void realBoxesAskWithTheirTexts();
  void mailCommandEnabledAndExitShutsDown();

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  fs::path program_;
};

void FilesTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  program_ = P(*dir_);
}

void FilesTest::addAccountTakesTheLowestFreeNumber() {
  account(program_, 1, "一番");
  account(program_, 2);
  account(program_, 4, "四番");  // behind the gap: not shown until 03 exists
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  QCOMPARE(rootKeys(form), QStringList({"root01", "root02"}));
  select(form, "受信箱01");

  form.fMenuItem(M::File, 6)->trigger();
  const fs::path a3 = mailstore::fAccountFolder(form.fAccountPrefix(), 3);
  for (const char* sub : {"受信箱", "送信箱", "ごみ箱", "送信箱/下書き", "送信箱/送信待ち"}) {
    QVERIFY2(fs::is_directory(a3 / mailstore::fPath(sub)), sub);
  }
  QVERIFY(!fs::exists(a3 / "set.ini"));  // only the dialog writes it
  // Filling the gap makes account 04 readable: the tree shows it too.
  QCOMPARE(rootKeys(form), QStringList({"root01", "root02", "root03", "root04"}));
  QTreeWidgetItem* root3 = form.fNode("root03");
  QCOMPARE(root3->text(0), QString("Account03"));
  QCOMPARE(form.fNode("root04")->text(0), QString("四番"));
  QCOMPARE(form.fTree()->currentItem(), root3);
  QVERIFY(root3->isExpanded());
  QCOMPARE(form.fListModel()->rowCount(), 0);

  // The settings dialog is open without blocking, owned by the main window.
  QPointer<QDialog> dialog = form.fNewAccountDialog();
  QVERIFY(dialog);
  QVERIFY(dialog->isVisible());
  QVERIFY(!dialog->isModal());
  QCOMPARE(dialog->parentWidget(), static_cast<QWidget*>(&form));
  QCOMPARE(dialog->windowTitle(), QString("アカウント設定 - Account03"));
  dialog->findChild<QLineEdit*>("txt_0")->setText("三番");
  click(dialog, "cmdOK");
  QTRY_VERIFY(!dialog);
  QCOMPARE(root3->text(0), QString("三番"));
  QCOMPARE(QString::fromStdString(modCommon::fGetAccountValue(a3, "Account")), QString("三番"));

  // Without a gap the nodes are added in their order, with their images.
  select(form, "ごみ箱01");
  form.mnuFileItem_Click(6);
  QTreeWidgetItem* root5 = form.fNode("root05");
  QVERIFY(root5);
  QCOMPARE(rootKeys(form).last(), QString("root05"));
  QCOMPARE(childKeys(root5), QStringList({"受信箱05", "送信箱05", "ごみ箱05"}));
  QCOMPARE(childKeys(form.fNode("送信箱05")), QStringList({"下書き05", "送信待ち05"}));
  QCOMPARE(root5->data(0, FolderTree::kImageRole).toInt(), 1);
  QCOMPARE(form.fNode("ごみ箱05")->data(0, FolderTree::kImageRole).toInt(), 4);
  QCOMPARE(form.fNode("下書き05")->data(0, FolderTree::kSelectedImageRole).toInt(), 3);
  QCOMPARE(form.fNode("受信箱05")->data(0, FolderTree::kCountRole).toString(), QString("0"));
  QCOMPARE(form.fTree()->currentItem(), root5);
  // Cancel writes nothing.
  dialog = form.fNewAccountDialog();
  click(dialog, "cmdCancel");
  QTRY_VERIFY(!dialog);
  QVERIFY(!fs::exists(mailstore::fAccountFolder(form.fAccountPrefix(), 5) / "set.ini"));
  QCOMPARE(root5->text(0), QString("Account05"));
  QVERIFY(boxes.messages.isEmpty());
}

void FilesTest::addAccountStopsAtNinetyNine() {
  const fs::path prefix = mailstore::fAccountPrefix(program_);
  for (int i = 1; i <= 99; ++i) fs::create_directories(mailstore::fAccountFolder(prefix, i));
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  const QStringList before = allDirs(program_);
  form.mnuFileItem_Click(6);
  QCOMPARE(boxes.messages.size(), 1);
  QCOMPARE(boxes.messages[0].text, QString("アカウントは99個までしか作成できません"));
  QCOMPARE(allDirs(program_), before);
  QCOMPARE(form.fTree()->topLevelItemCount(), 99);
  QVERIFY(!form.fNewAccountDialog());
}

void FilesTest::deleteAccountRenumbersAndRebuilds() {
  for (int i = 1; i <= 4; ++i) account(program_, i, "名前" + std::to_string(i));
  const fs::path prefix = mailstore::fAccountPrefix(program_);
  mail(mailstore::fAccountFolder(prefix, 3) / "受信箱", "three.eml");
  mail(mailstore::fAccountFolder(prefix, 4) / "受信箱", "four.eml", true);
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  select(form, "下書き02");

  boxes.confirmAnswer = false;
  form.mnuFileItem_Click(7);
  QCOMPARE(boxes.confirms.size(), 1);
  QCOMPARE(boxes.confirms[0].title, QString("アカウントの削除"));
  QCOMPARE(
      boxes.confirms[0].text,
      QString(
          "名前2のアカウント設定やメールなど、全てのファイルが削除されます。\r\nよろしいですか？"));
  QVERIFY(fs::exists(mailstore::fAccountFolder(prefix, 4)));
  QCOMPARE(QString::fromStdString(
               modCommon::fGetAccountValue(mailstore::fAccountFolder(prefix, 2), "Account")),
           QString("名前2"));

  boxes.confirmAnswer = true;
  form.mnuFileItem_Click(7);
  QVERIFY(!fs::exists(mailstore::fAccountFolder(prefix, 4)));
  auto name = [&](int n) {
    return QString::fromStdString(
        modCommon::fGetAccountValue(mailstore::fAccountFolder(prefix, n), "Account"));
  };
  QCOMPARE(name(1), QString("名前1"));
  QCOMPARE(name(2), QString("名前3"));
  QCOMPARE(name(3), QString("名前4"));
  QVERIFY(fs::exists(mailstore::fAccountFolder(prefix, 2) / mailstore::fPath("受信箱/three.eml")));
  QVERIFY(mailstore::fIsRead(mailstore::fAccountFolder(prefix, 3) / mailstore::fPath("受信箱"),
                             "four.eml"));
  // The rebuilt tree: three accounts numbered 01 to 03, their counts read from disk.
  QCOMPARE(rootKeys(form), QStringList({"root01", "root02", "root03"}));
  QCOMPARE(form.fNode("root02")->text(0), QString("名前3"));
  QCOMPARE(form.fNode("受信箱02")->data(0, FolderTree::kCountRole).toString(), QString("1"));
  QCOMPARE(form.fNode("受信箱03")->data(0, FolderTree::kCountRole).toString(), QString("0"));
  QVERIFY(!form.fNode("root04"));
  QCOMPARE(form.fTree()->currentItem(), nullptr);
  QCOMPARE(form.windowTitle(), Form1::kTitle);
}

void FilesTest::deleteAccountThatCannotBeRemoved() {
  for (int i = 1; i <= 3; ++i) account(program_, i, "名前" + std::to_string(i));
  const fs::path prefix = mailstore::fAccountPrefix(program_);
  const fs::path a2 = mailstore::fAccountFolder(prefix, 2);
  fs::path stuck = mail(a2 / "受信箱", "stuck.eml");
  Immutable guard(stuck);
  if (!guard.ok()) {
    // Root on a file system without the immutable flag: nothing can hold the file.
    const char* why =
        "cannot make a file undeletable here (as root, the temp folder's file system needs the "
        "immutable flag; or set QB_ALLOW_SKIP=1 to skip)";
    if (qEnvironmentVariable("QB_ALLOW_SKIP") == "1") QSKIP(why);
    QFAIL(why);
  }
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  select(form, "受信箱02");
  form.mnuFileItem_Click(7);
  // Nothing renumbered: 03 keeps its number, the remains of 02 stay 02.
  QVERIFY(fs::exists(stuck));
  QCOMPARE(QString::fromStdString(
               modCommon::fGetAccountValue(mailstore::fAccountFolder(prefix, 3), "Account")),
           QString("名前3"));
  QCOMPARE(rootKeys(form), QStringList({"root01", "root02", "root03"}));
  // The tree shows exactly the folders of 02 that are left.
  for (const char* sub : {"受信箱", "送信箱", "ごみ箱"}) {
    QCOMPARE(form.fNode(QString(sub) + "02") != nullptr,
             fs::is_directory(a2 / mailstore::fPath(sub)));
  }
  QVERIFY(form.fNode("受信箱02"));
  QCOMPARE(form.fNode("受信箱02")->data(0, FolderTree::kCountRole).toString(), QString("1"));
  QCOMPARE(form.fTree()->currentItem(), nullptr);
}

void FilesTest::accountSettingsStopsAndRearmsTheTimer() {
  account(program_, 1);
  const fs::path a2 = account(program_, 2, "旧名");
  setting(program_, "AutoTime", "5");
  Form1 form(dir_->path());
  QVERIFY(form.fTimer()->isActive());
  QCOMPARE(form.fTimer()->interval(), 300000);

  // No node selected: nothing opens.
  bool opened = false;
  QTimer* watcher = onModal([&](QWidget* w) {
    opened = true;
    w->close();
  });
  form.mnuFileItem_Click(8);  // the dialog would run modally inside this call
  delete watcher;
  QVERIFY(!opened);
  QVERIFY(form.fTimer()->isActive());

  select(form, "送信待ち02");
  const std::string before = bytesOf(a2 / "set.ini");
  bool timerWhileOpen = true;
  QString title;
  onModal([&](QWidget* dialog) {
    timerWhileOpen = form.fTimer()->isActive();
    title = dialog->windowTitle();
    dialog->findChild<QLineEdit*>("txt_0")->setText("別名");
    dialog->findChild<QLineEdit*>("txt_4")->setText("pop.example.jp");
    setting(program_, "AutoTime", "3");
    setting(program_, "second", "1");
    click(dialog, "cmdCancel");
  });
  form.mnuFileItem_Click(8);
  QVERIFY(!timerWhileOpen);
  QCOMPARE(title, QString("アカウント設定 - 旧名"));
  QCOMPARE(bytesOf(a2 / "set.ini"), before);  // Cancel writes nothing
  QCOMPARE(form.fNode("root02")->text(0), QString("旧名"));
  // Re-armed from the values on disk now.
  QVERIFY(form.fTimer()->isActive());
  QCOMPARE(form.fTimer()->interval(), 3000);

  onModal([&](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("txt_0")->setText("新名");
    setting(program_, "AutoTime", "0");
    click(dialog, "cmdOK");
  });
  form.mnuFileItem_Click(8);
  QCOMPARE(form.fNode("root02")->text(0), QString("新名"));
  QCOMPARE(form.windowTitle(), QString("Quillbrook ： 新名 - 送信待ち"));
  QCOMPARE(QString::fromStdString(modCommon::fGetAccountValue(a2, "Account")), QString("新名"));
  QVERIFY(!form.fTimer()->isActive());  // AutoTime 0: stays stopped
}

void FilesTest::createAndDeleteFolders() {
  const fs::path a1 = account(program_, 1, "仕事");
  account(program_, 2);
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);

  // Under the inbox, then under that user folder, then under the account itself.
  select(form, "受信箱01");
  boxes.inputAnswer = QString("取引先");
  form.mnuFileItem_Click(10);
  QCOMPARE(boxes.inputs.size(), 1);
  QCOMPARE(boxes.inputs[0].title, QString("新規フォルダ追加"));
  QCOMPARE(boxes.inputs[0].text, QString("フォルダ名を入力してください"));
  QVERIFY(fs::is_directory(a1 / mailstore::fPath("受信箱/取引先")));
  QTreeWidgetItem* client = form.fNode("C取引先01");
  QVERIFY(client);
  QCOMPARE(client->parent(), form.fNode("受信箱01"));
  QCOMPARE(client->text(0), QString("取引先"));
  QCOMPARE(client->data(0, FolderTree::kImageRole).toInt(), 2);
  QCOMPARE(client->data(0, FolderTree::kSelectedImageRole).toInt(), 3);

  select(form, "C取引先01");
  boxes.inputAnswer = QString("2024年");
  form.mnuFileItem_Click(10);
  QVERIFY(fs::is_directory(a1 / mailstore::fPath("受信箱/取引先/2024年")));
  QCOMPARE(form.fNode("C2024年01")->parent(), client);
  mail(a1 / mailstore::fPath("受信箱/取引先/2024年"), "old.eml");

  select(form, "root02");
  boxes.inputAnswer = QString("保存");
  form.mnuFileItem_Click(10);
  QVERIFY(fs::is_directory(mailstore::fAccountFolder(form.fAccountPrefix(), 2) /
                           mailstore::fPath("保存")));
  QCOMPARE(form.fNode("C保存02")->parent(), form.fNode("root02"));

  // Standard folders and account nodes are never deleted, and nothing is asked.
  for (const char* key : {"受信箱01", "下書き01", "ごみ箱01", "root01"}) {
    select(form, key);
    form.mnuFileItem_Click(11);
  }
  QVERIFY(boxes.confirms.isEmpty());
  QVERIFY(fs::is_directory(a1 / mailstore::fPath("送信箱/下書き")));

  // A user folder goes with everything in it, after the question.
  select(form, "C取引先01");
  boxes.confirmAnswer = false;
  form.mnuFileItem_Click(11);
  QCOMPARE(boxes.confirms.size(), 1);
  QCOMPARE(boxes.confirms[0].title, QString("フォルダ削除"));
  QCOMPARE(boxes.confirms[0].text,
           QString("取引先以下のファイル、フォルダが全て削除されます\r\nよろしいですか？"));
  QVERIFY(fs::exists(a1 / mailstore::fPath("受信箱/取引先/2024年/old.eml")));
  boxes.confirmAnswer = true;
  form.mnuFileItem_Click(11);
  QVERIFY(!fs::exists(a1 / mailstore::fPath("受信箱/取引先")));
  QVERIFY(fs::is_directory(a1 / mailstore::fPath("受信箱")));
  QVERIFY(!form.fNode("C取引先01"));
  QVERIFY(!form.fNode("C2024年01"));
  QCOMPARE(form.fNode("受信箱01")->childCount(), 0);
  QCOMPARE(form.fTree()->currentItem(), nullptr);
  // The name is free again.
  select(form, "受信箱01");
  boxes.inputAnswer = QString("取引先");
  form.mnuFileItem_Click(10);
  QVERIFY(form.fNode("C取引先01"));
}

void FilesTest::refusedFolderNamesCreateNothing() {
  const fs::path a1 = account(program_, 1);
  fs::create_directories(a1 / mailstore::fPath("受信箱/既存"));
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  select(form, "受信箱01");
  const QStringList before = allDirs(program_);
  const int nodes = form.fNode("受信箱01")->childCount();

  const QStringList refused = {"..",    ".",       "../../escape", "a/b",    "a\\b",
                               "c:",    "what?",   "<x>",          "a|b",    "*",
                               "\"q\"", "tab\tx",  "受信箱",       "ごみ箱", ".hidden",
                               "CON",   "nul.txt", "trailing.",    "既存"};
  for (const QString& name : refused) {
    boxes.messages.clear();
    boxes.inputAnswer = name;
    form.mnuFileItem_Click(10);
    QVERIFY2(boxes.messages.size() == 1, qPrintable(name));
    QCOMPARE(boxes.messages[0].title, QString("新規フォルダ追加"));
    QVERIFY(boxes.messages[0].text.contains(name));
  }
  // Cancel and an empty answer stop without a word.
  boxes.messages.clear();
  for (std::optional<QString> answer :
       {std::optional<QString>(), std::optional<QString>(QString())}) {
    boxes.inputAnswer = answer;
    form.mnuFileItem_Click(10);
  }
  QVERIFY(boxes.messages.isEmpty());
  QCOMPARE(allDirs(program_), before);
  QCOMPARE(form.fNode("受信箱01")->childCount(), nodes);
  QVERIFY(!fs::exists(program_.parent_path() / "escape"));
}

void FilesTest::emptyTrash() {
  const fs::path a1 = account(program_, 1, "私用");
  const fs::path trash = a1 / mailstore::fPath("ごみ箱");
  mail(trash, "t1.eml", true);
  mail(trash, "t2.eml");
  mail(trash / "古い", "t3.eml");
  mail(a1 / mailstore::fPath("受信箱"), "new.eml");
  mail(a1 / mailstore::fPath("受信箱"), "seen.eml", true);
  Form1 form(dir_->path());
  Boxes boxes;
  boxes.install(form);
  QCOMPARE(form.fNode("ごみ箱01")->data(0, FolderTree::kCountRole).toString(), QString("2"));
  QVERIFY(form.fNode("C古い01"));

  // The list of the trash, filled from disk as the mail list does.
  int fills = 0;
  form.setListFiller([&](const fs::path& folder, bool) {
    ++fills;
    std::vector<MailRow> rows;
    for (const fs::path& f : mailstore::fListMailFiles(folder))
      rows.push_back({"s", "p", "d", QString::fromStdString(u8(f))});
    form.fListModel()->sSetRows(std::move(rows));
  });
  select(form, "ごみ箱01");
  QCOMPARE(form.fListModel()->rowCount(), 2);

  boxes.confirmAnswer = false;
  form.mnuFileItem_Click(13);
  QCOMPARE(boxes.confirms.size(), 1);
  QCOMPARE(boxes.confirms[0].title, QString("ごみ箱を空にする"));
  QCOMPARE(boxes.confirms[0].text, QString("私用のごみ箱内のファイルを全て削除しますか？"));
  QVERIFY(fs::exists(trash / "t1.eml"));

  boxes.confirmAnswer = true;
  form.mnuFileItem_Click(13);
  QVERIFY(!fs::exists(trash / "t1.eml"));
  QVERIFY(!fs::exists(trash / "t2.eml"));
  QVERIFY(!fs::exists(trash / mailstore::fPath("古い")));
  QVERIFY(mod_ini::fGetIniKeys("Icon", trash / "icon.ini").empty());
  QCOMPARE(fills, 2);  // listed again after emptying
  QCOMPARE(form.fListModel()->rowCount(), 0);
  QCOMPARE(form.fNode("ごみ箱01")->data(0, FolderTree::kCountRole).toString(), QString("0"));
  QCOMPARE(form.fStatus(2), QString("総メール数 0件"));
  QVERIFY(!form.fNode("C古い01"));
  QCOMPARE(form.fNode("ごみ箱01")->childCount(), 0);

  // From another folder of the account: every count is taken again.
  mail(trash, "t4.eml", true);
  select(form, "受信箱01");
  form.fNode("受信箱01")->setData(0, FolderTree::kCountRole, "9");
  form.mnuFileItem_Click(13);
  QVERIFY(!fs::exists(trash / "t4.eml"));
  QCOMPARE(form.fNode("ごみ箱01")->data(0, FolderTree::kCountRole).toString(), QString("0"));
  QCOMPARE(form.fNode("受信箱01")->data(0, FolderTree::kCountRole).toString(), QString("1"));
  QVERIFY(fs::exists(a1 / mailstore::fPath("受信箱/new.eml")));
}

void FilesTest::realBoxesAskWithTheirTexts() {
  account(program_, 1);
  Form1 form(dir_->path());
  select(form, "受信箱01");

  QString title, text;
  QMessageBox::StandardButtons buttons;
  onModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    QVERIFY(box);
    title = box->windowTitle();
    text = box->text();
    buttons = box->standardButtons();
    box->button(QMessageBox::Cancel)->click();
  });
  form.mnuFileItem_Click(7);
  QCOMPARE(title, QString("アカウントの削除"));
  QCOMPARE(text, QString("Account01のアカウント設定やメールなど、全てのファイルが削除されます。\nよ"
                         "ろしいですか？"));
  QCOMPARE(buttons, QMessageBox::Ok | QMessageBox::Cancel);
  QVERIFY(form.fNode("root01"));

  QString prompt;
  onModal([&](QWidget* w) {
    auto* input = qobject_cast<QInputDialog*>(w);
    QVERIFY(input);
    title = input->windowTitle();
    prompt = input->labelText();
    input->setTextValue("x/y");
    input->accept();
  });
  QString refusal;
  form.setMessageBox([&](const QString&, const QString& t) { refusal = t; });
  form.mnuFileItem_Click(10);
  QCOMPARE(title, QString("新規フォルダ追加"));
  QCOMPARE(prompt, QString("フォルダ名を入力してください"));
  QCOMPARE(refusal, QString("「x/y」はフォルダ名に使えません"));
}

void FilesTest::mailCommandEnabledAndExitShutsDown() {
  account(program_, 1);
  Form1 form(dir_->path());
  QVERIFY(shown(form));
  for (int i : {6, 7, 8, 10, 11, 13, 20}) QVERIFY(form.fMenuItem(M::File, i)->isEnabled());
  QAction* compose = form.fMenuItem(M::File, 0);
  QCOMPARE(compose->text(), QString("メール作成(&M)"));
  QVERIFY(compose->isEnabled());
  form.fMenuItem(M::File, 20)->trigger();
  QVERIFY(!form.isVisible());
  QVERIFY(settingValue(program_, "Split1") != "<none>");  // saved by the shutdown
}

QTEST_MAIN(FilesTest)
#include "tst_files.moc"
