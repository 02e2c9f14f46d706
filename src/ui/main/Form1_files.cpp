// Form1: the File menu's account and folder commands - add, delete and set up accounts,
// create and delete folders, empty the trash. Each changes the store and the tree together.
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "ui/settings/frmSet.h"
#include "store/folderTree.h"
#include "store/mailstore.h"

namespace {

namespace fs = std::filesystem;

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string u8(const QString& s) { return s.toStdString(); }

const QString kCrLf = QStringLiteral("\r\n");

// The standard folders of a new account, in the order they are created and shown:
// directory below the account, parent kind ("" = the account node), images.
struct StandardFolder {
  const char* dir;
  const char* name;
  const char* parent;
  int image;
  int selectedImage;
};
constexpr StandardFolder kStandardFolders[] = {
    {"受信箱", "受信箱", "", folderTree::kImageFolder, folderTree::kImageFolderOpen},
    {"送信箱", "送信箱", "", folderTree::kImageFolder, folderTree::kImageFolderOpen},
    {"ごみ箱", "ごみ箱", "", folderTree::kImageTrash, 0},
    {"送信箱/下書き", "下書き", "送信箱", folderTree::kImageFolder, folderTree::kImageFolderOpen},
    {"送信箱/送信待ち", "送信待ち", "送信箱", folderTree::kImageFolder,
     folderTree::kImageFolderOpen},
};

QString rootKey(const QString& nn) { return QStringLiteral("root") + nn; }

// A name typed for a new folder becomes a directory name as it is: it must be one plain
// name that every platform accepts and that the tree will show (no standard name, not
// hidden).
bool fUsableFolderName(const QString& name) {
  const std::string n = u8(name);
  return mailstore::fIsValidFolderName(n) && folderTree::fIsValidFolderName(n);
}

// A name saved in the settings dialog: the account's node, and the title while one of
// its folders is selected.
void sShowAccountName(Form1& form, const QString& nn, const QString& name) {
  QTreeWidgetItem* root = form.fNode(rootKey(nn));
  if (!root) return;
  root->setText(0, name);
  QTreeWidgetItem* current = form.fTree()->currentItem();
  if (current && Form1::fGetRootNode(current) == root) {
    form.setWindowTitle(Form1::kTitle + QStringLiteral(" ： ") + name + QStringLiteral(" - ") +
                        current->text(0));
  }
}

}  // namespace

void Form1::installFileCommands() {
  sSetMenuHandler(Menu::File, menuitem::file::kAddAccount, [this] { sAddAccount(); });
  sSetMenuHandler(Menu::File, menuitem::file::kDeleteAccount, [this] { sDeleteAccount(); });
  sSetMenuHandler(Menu::File, menuitem::file::kAccountSettings, [this] { sAccountSettings(); });
  sSetMenuHandler(Menu::File, menuitem::file::kNewFolder, [this] { sNewFolder(); });
  sSetMenuHandler(Menu::File, menuitem::file::kDeleteFolder, [this] { sDeleteFolder(); });
  sSetMenuHandler(Menu::File, menuitem::file::kEmptyTrash, [this] { sEmptyTrash(); });
}

// --- The boxes ----------------------------------------------------------------------

bool Form1::confirm(const QString& title, const QString& text) {
  if (confirmBox_) return confirmBox_(title, text);
  QMessageBox box(QMessageBox::NoIcon, title, QString(text).replace(kCrLf, QStringLiteral("\n")),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  return box.exec() == QMessageBox::Ok;
}

void Form1::sMessage(const QString& title, const QString& text) {
  if (messageBox_) return messageBox_(title, text);
  QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
  box.exec();
}

std::optional<QString> Form1::askInput(const QString& prompt, const QString& title) {
  if (inputBox_) return inputBox_(prompt, title);
  bool ok = false;
  QString text = QInputDialog::getText(this, title, prompt, QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return text;
}

// --- Tree helpers -------------------------------------------------------------------

void Form1::removeNode(QTreeWidgetItem* node) {
  for (QTreeWidgetItem* n = dragOriginNode_; n; n = n->parent()) {
    if (n == node) dragOriginNode_ = nullptr;
  }
  tv_->removeNode(node);
}

// After the selected node went away: nothing selected, nothing listed, a plain title.
void Form1::selectNoNode() {
  tv_->setCurrentItem(nullptr);
  tv_->clearSelection();
  sClearView();
  listedKey_.clear();
  sSetStatus(2, QString());
  setWindowTitle(kTitle);
}

// --- Accounts -----------------------------------------------------------------------

void Form1::sAddAccount() {
  if (mailstore::fFreeAccountNumber(accountPrefix_) == 0) {
    sMessage(kTitle, QStringLiteral("アカウントは99個までしか作成できません"));
    return;
  }
  const int number = mailstore::fCreateAccount(accountPrefix_);
  const fs::path account = mailstore::fAccountFolder(accountPrefix_, number);
  if (number == 0) {
    // Whatever was created before the failure is on disk: show the store as it is.
    sBuildFolderTree();
    selectNoNode();
    return;
  }
  const QString nn = qs(mailstore::fAccountNumberText(number));
  const QString caption = QStringLiteral("Account") + nn;
  if (fs::exists(mailstore::fAccountFolder(accountPrefix_, number + 1))) {
    // The new number filled a gap: the accounts behind it are readable now.
    sBuildFolderTree();
  } else {
    tv_->addNode(QString(), rootKey(nn), caption, folderTree::kImageAccount, 0, 0);
    for (const StandardFolder& f : kStandardFolders) {
      const QString parent = *f.parent ? QString::fromUtf8(f.parent) + nn : rootKey(nn);
      tv_->addNode(parent, QString::fromUtf8(f.name) + nn, QString::fromUtf8(f.name), f.image,
               f.selectedImage, 0);
    }
  }
  QTreeWidgetItem* root = fNode(rootKey(nn));
  if (!root) return;
  root->setExpanded(true);
  tv_MouseDown(root, Qt::LeftButton, QPoint());
  tv_->scrollToItem(root);

  auto* dialog = new frmSet(account, root->text(0), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &frmSet::accountNameChanged, this,
          [this, nn](const QString& name) { sShowAccountName(*this, nn, name); });
  newAccountDialog_ = dialog;
  dialog->show();
}

void Form1::sDeleteAccount() {
  QTreeWidgetItem* root = fGetRootNode(tv_->currentItem());
  if (!root) return;
  const int number = folderTree::fNodeAccount(u8(FolderTree::fKey(root)));
  if (number < 1) return;
  const QString text =
      root->text(0) +
      QStringLiteral("のアカウント設定やメールなど、全てのファイルが削除されます。") + kCrLf +
      QStringLiteral("よろしいですか？");
  if (!confirm(QStringLiteral("アカウントの削除"), text) || receiving_) return;
  // A settings dialog still open on a new account would write into a folder that is
  // gone or now belongs to another account.
  if (newAccountDialog_) newAccountDialog_->reject();
  // When the folder cannot be removed completely nothing is renumbered; either way the
  // tree is read again, so it shows what is on disk now.
  mailstore::fDeleteAccount(accountPrefix_, number);
  sBuildFolderTree();
  selectNoNode();
}

void Form1::sAccountSettings() {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node) return;
  const QString nn = FolderTree::fKey(node).right(2);
  sStopAutoTimer();
  {
    frmSet dialog(mailstore::fAccountFolder(accountPrefix_, nn.toInt()),
                  fGetRootNode(node)->text(0), this);
    connect(&dialog, &frmSet::accountNameChanged, this,
            [this, nn](const QString& name) { sShowAccountName(*this, nn, name); });
    dialog.exec();
  }
  sStartAutoTimer();
}

// --- Folders ------------------------------------------------------------------------

void Form1::sNewFolder() {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node) return;
  std::optional<QString> answer =
      askInput(QStringLiteral("フォルダ名を入力してください"), QStringLiteral("新規フォルダ追加"));
  // A receive run may have started while the box was up.
  if (!answer || answer->isEmpty() || receiving_) return;
  const QString name = *answer;
  if (!fUsableFolderName(name)) {
    sMessage(QStringLiteral("新規フォルダ追加"),
             QStringLiteral("「%1」はフォルダ名に使えません").arg(name));
    return;
  }
  const QString nn = FolderTree::fKey(node).right(2);
  const QString key = QStringLiteral("C") + name + nn;
  if (fNode(key)) {
    // Keys are unique per account; a second folder of this name could not be shown.
    sMessage(QStringLiteral("新規フォルダ追加"),
             QStringLiteral("「%1」はこのアカウントに既にあります").arg(name));
    return;
  }
  const fs::path parent =
      node->parent() ? fNodeFolder(node) : mailstore::fAccountFolder(accountPrefix_, nn.toInt());
  if (!mailstore::fCreateFolder(parent, u8(name))) return;
  if (tv_->addNode(FolderTree::fKey(node), key, name, folderTree::kImageFolder,
               folderTree::kImageFolderOpen, 0)) {
    node->setExpanded(true);
  }
}

void Form1::sDeleteFolder() {
  QTreeWidgetItem* node = tv_->currentItem();
  if (!node || !node->parent()) return;
  const std::string key = u8(FolderTree::fKey(node));
  if (folderTree::fIsStandardKey(key)) return;
  const QString text = node->text(0) +
                       QStringLiteral("以下のファイル、フォルダが全て削除されます") + kCrLf +
                       QStringLiteral("よろしいですか？");
  if (!confirm(QStringLiteral("フォルダ削除"), text) || receiving_) return;
  const fs::path folder = fNodeFolder(node);
  if (!mailstore::fDeleteFolder(folder)) {
    // Part of it may be gone: show its sub-folders as they are on disk now.
    while (node->childCount() > 0) removeNode(node->child(0));
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
      sAddSubFolders(folder, FolderTree::fKey(node));
    } else {
      removeNode(node);
      selectNoNode();
    }
    sMailCount();
    return;
  }
  removeNode(node);
  selectNoNode();
}

// --- Trash --------------------------------------------------------------------------

void Form1::sEmptyTrash() {
  QTreeWidgetItem* selected = tv_->currentItem();
  QTreeWidgetItem* root = fGetRootNode(selected);
  if (!root) return;
  const QString nn = FolderTree::fKey(root).right(2);
  const QString text = root->text(0) + QStringLiteral("のごみ箱内のファイルを全て削除しますか？");
  if (!confirm(QStringLiteral("ごみ箱を空にする"), text) || receiving_) return;
  if (!mailstore::fEmptyTrash(mailstore::fAccountFolder(accountPrefix_, nn.toInt())))
    sSetStatus(1, QStringLiteral("ごみ箱を空にできませんでした"));

  // Folders inside the trash went with it; drop the nodes of those that are gone.
  QTreeWidgetItem* trash = fNode(QStringLiteral("ごみ箱") + nn);
  if (!trash) return;
  bool selectedGone = false;
  for (int i = trash->childCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* child = trash->child(i);
    std::error_code ec;
    if (fs::is_directory(fNodeFolder(child), ec)) continue;
    for (QTreeWidgetItem* n = selected; n; n = n->parent())
      selectedGone = selectedGone || n == child;
    removeNode(child);
  }
  if (selectedGone) {
    selectNoNode();
    sMailCount();
  } else if (FolderTree::fKey(selected).startsWith(QStringLiteral("ごみ箱")) && listFiller_) {
    listFiller_(fNodeFolder(selected), false);
    selected->setData(0, FolderTree::kCountRole, QString::number(listModel_->rowCount()));
    sShowListTotal();
    tv_->viewport()->update();
  } else {
    sMailCount();
  }
}

// --- Without an account -------------------------------------------------------------

namespace {
const QString kNoAccount =
    QStringLiteral("アカウントがありません。「ファイル」→「アカウント追加」でアカウントを追加してください。");
const QString kNoAccountSelected =
    QStringLiteral("アカウントが選択されていません。左のツリーでアカウントかフォルダを選んでください。");
}  // namespace

bool Form1::fAccountChosen() {
  if (tv_->currentItem()) return true;
  sMessage(kTitle, tv_->topLevelItemCount() == 0 ? kNoAccount : kNoAccountSelected);
  return false;
}

void Form1::createNoAccountHint() {
  // Lies over the empty list: a first start says what to do next and offers to do it.
  noAccountHint_ = new QWidget(ListView1_);
  noAccountHint_->setObjectName(QStringLiteral("fraNoAccount"));
  auto* layout = new QVBoxLayout(noAccountHint_);
  layout->addStretch(1);
  auto* text = new QLabel(kNoAccount, noAccountHint_);
  text->setObjectName(QStringLiteral("lblNoAccount"));
  text->setWordWrap(true);
  text->setAlignment(Qt::AlignCenter);
  layout->addWidget(text);
  auto* add = new QPushButton(QStringLiteral("アカウント追加(&N)..."), noAccountHint_);
  add->setObjectName(QStringLiteral("cmdAddAccount"));
  connect(add, &QPushButton::clicked, this, [this] { sRunMenuItem(Menu::File, menuitem::file::kAddAccount); });
  layout->addWidget(add, 0, Qt::AlignHCenter);
  layout->addStretch(2);
  QAbstractItemModel* model = tv_->model();
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(model, signal, this, [this] { updateNoAccountHint(); });
  }
  connect(model, &QAbstractItemModel::modelReset, this, [this] { updateNoAccountHint(); });
  // The list's viewport takes its size when the window system lays the list out, which can
  // come after the window's own layout: the hint follows it.
  ListView1_->viewport()->installEventFilter(this);
  updateNoAccountHint();
}

void Form1::updateNoAccountHint() {
  if (!noAccountHint_) return;
  noAccountHint_->setGeometry(ListView1_->viewport()->geometry());
  noAccountHint_->setVisible(tv_->topLevelItemCount() == 0);
}

QWidget* Form1::fNoAccountHint() const {
  return noAccountHint_ && !noAccountHint_->isHidden() ? noAccountHint_ : nullptr;
}
