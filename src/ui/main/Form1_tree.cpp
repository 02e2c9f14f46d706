// Form1: the folder tree - building, counting, selecting, renaming and dropping mails.
#include <QPushButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <QTreeView>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MessageView.h"
#include "ui/main/MailListModel.h"
#include "store/folderTree.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/modCommon.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string u8(const QString& s) { return s.toStdString(); }

}  // namespace

void Form1::sBuildFolderTree() {
  dragOriginNode_ = nullptr;
  tv_->rebuild();
}

void Form1::sAddSubFolders(const std::filesystem::path& dir, const QString& parentKey) {
  tv_->addSubFolders(dir, parentKey);
}

QTreeWidgetItem* Form1::fNode(const QString& key) const { return tv_->node(key); }

QTreeWidgetItem* Form1::fGetRootNode(QTreeWidgetItem* node) { return FolderTree::rootOf(node); }

std::filesystem::path Form1::fNodeFolder(QTreeWidgetItem* node) const { return tv_->folderOf(node); }

void Form1::sMailCount() { tv_->recount(); }

std::function<Form1::MailCounts()> Form1::fMailCounter() const { return tv_->counter(); }

void Form1::sShowMailCounts(const MailCounts& counts) { tv_->showCounts(counts); }

void Form1::sClearView() {
  listModel_->sClear();
  view_->clear();
}

void Form1::sShowNode(QTreeWidgetItem* node) {
  if (!node) return;
  if (!node->parent()) {
    sClearView();
    listedKey_.clear();
    sSetStatus(2, QString());
  } else {
    bool sent = folderTree::fIsSentTypeKey(u8(FolderTree::fKey(node)));
    listModel_->sSetHeaderText(1, sent ? QStringLiteral("宛先") : QStringLiteral("差出人"));
    if (listFiller_) {
      listFiller_(fNodeFolder(node), sent);
    } else {
      sClearView();
    }
    // The folder these rows came from: a delete decides between the trash and deleting
    // for good by it, whatever the tree shows later.
    listedKey_ = FolderTree::fKey(node);
    sShowListTotal();
  }
  setWindowTitle(kTitle + QStringLiteral(" ： ") + fGetRootNode(node)->text(0) +
                 QStringLiteral(" - ") + node->text(0));
}

void Form1::tv_MouseDown(QTreeWidgetItem* node, Qt::MouseButton button, const QPoint& globalPos) {
  if (node && node != tv_->currentItem()) {
    tv_->setCurrentItem(node);
    sShowNode(node);
  }
  if (button == Qt::RightButton) fMenu(Menu::File)->popup(globalPos);
}

bool Form1::canRename(QTreeWidgetItem* node) const {
  return node && !receiving_ && !folderTree::fIsStandardKey(u8(FolderTree::fKey(node)));
}

bool Form1::renameNode(QTreeWidgetItem* node, const QString& text) {
  if (!canRename(node)) return false;
  const std::string key = u8(FolderTree::fKey(node));
  const int number = folderTree::fNodeAccount(key);
  if (!node->parent()) {
    // An account keeps its folder and key; only its stored name changes.
    std::filesystem::path account = mailstore::fAccountFolder(accountPrefix_, number);
    if (!modCommon::sSetAccountValue(account, "Account", u8(text))) {
      sSetStatus(1, QStringLiteral("設定を保存できませんでした"));
      return false;
    }
    if (text.isEmpty()) {
      node->setText(0, qs(folderTree::fAccountCaption(account, number)));
      return false;  // the caption is already set to the shown name
    }
    return true;
  }
  if (!folderTree::fIsValidFolderName(u8(text))) return false;
  std::filesystem::path from = fNodeFolder(node);
  std::filesystem::path to = from.parent_path() / mailstore::fPath(u8(text));
  return fsutil::fRenameNoReplace(from, to);
}

void Form1::tv_DragOver(QTreeWidgetItem* node) {
  // The node under the pointer is highlighted as the target; off the nodes, the origin.
  tv_->setCurrentItem(node ? node : dragOriginNode_);
}

void Form1::endTreeDrag() {
  // However the drag ended, the highlight goes back to the folder that is listed.
  QTreeWidgetItem* back = listedKey_.isEmpty() ? dragOriginNode_ : fNode(listedKey_);
  dragOriginNode_ = nullptr;
  tv_->setCurrentItem(back);
}

void Form1::tv_Drop(QTreeWidgetItem* node, const QList<QUrl>& urls) {
  if (node && node->parent() && !receiving_) {
    std::filesystem::path target = fNodeFolder(node);
    std::vector<std::filesystem::path> files;
    QStringList paths;
    for (const QUrl& url : urls) {
      if (!url.isLocalFile()) continue;
      files.push_back(mailstore::fPath(u8(url.toLocalFile())));
      paths << url.toLocalFile();
    }
    if (!files.empty()) {
      std::vector<std::filesystem::path> failed = mailstore::fMoveMails(files, target);
      for (const auto& f : failed) paths.removeAll(qs(mailstore::fUtf8(f)));
      listModel_->sRemovePaths(paths);
      sMailCount();
      // A mail whose name the folder holds already stays where it was.
      if (!failed.empty())
        sSetStatus(1, QStringLiteral("%1件のメールを移動できませんでした").arg(failed.size()));
    }
  }
  endTreeDrag();
}
