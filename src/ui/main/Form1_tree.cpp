// Form1: the folder tree - building, counting, selecting, renaming and dropping mails.
#include <QPushButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeView>
#include <climits>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/common/Footy.h"
#include "store/countcache.h"
#include "store/folderTree.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/modCommon.h"

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
std::string u8(const QString& s) { return s.toStdString(); }

}  // namespace

QIcon Form1::fImage(int number) const {
  static std::map<int, QIcon> cache;
  auto it = cache.find(number);
  if (it != cache.end()) return it->second;
  QStyle* st = style();
  QIcon icon;
  switch (number) {
    case folderTree::kImageAccount:
      icon = st->standardIcon(QStyle::SP_DriveNetIcon);
      break;
    case folderTree::kImageFolderOpen:
      icon = st->standardIcon(QStyle::SP_DirOpenIcon);
      break;
    case folderTree::kImageTrash:
      icon = st->standardIcon(QStyle::SP_TrashIcon);
      break;
    default:
      icon = st->standardIcon(QStyle::SP_DirClosedIcon);
      break;
  }
  return cache[number] = icon;
}

QTreeWidgetItem* Form1::fAddNode(const QString& parentKey, const QString& key, const QString& text,
                                 int image, int selectedImage, int count) {
  if (nodes_.contains(key)) return nullptr;
  QTreeWidgetItem* parent = parentKey.isEmpty() ? nullptr : nodes_.value(parentKey);
  if (!parentKey.isEmpty() && !parent) return nullptr;
  auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tv_);
  node->setText(0, text);
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  node->setData(0, FolderTree::kKeyRole, key);
  node->setData(0, FolderTree::kImageRole, image);
  node->setData(0, FolderTree::kSelectedImageRole, selectedImage ? selectedImage : image);
  QIcon icon = fImage(image);
  if (selectedImage && selectedImage != image) {
    // The open folder while the node is selected.
    QIcon both;
    for (const QSize& size : icon.availableSizes())
      both.addPixmap(icon.pixmap(size), QIcon::Normal);
    QIcon open = fImage(selectedImage);
    for (const QSize& size : open.availableSizes())
      both.addPixmap(open.pixmap(size), QIcon::Selected);
    icon = both;
  }
  node->setIcon(0, icon);
  if (parent && count != folderTree::kNoCount) node->setData(0, FolderTree::kCountRole, QString::number(count));
  nodes_.insert(key, node);
  return node;
}

void Form1::sBuildFolderTree() {
  tv_->clear();
  nodes_.clear();
  dragOriginNode_ = nullptr;
  for (const folderTree::Node& n : folderTree::fBuildNodes(programDir_, false)) {
    QTreeWidgetItem* node =
        fAddNode(qs(n.parentKey), qs(n.key), qs(n.text), n.image, n.selectedImage, n.count);
    if (node && !node->parent()) node->setExpanded(true);
  }
  tv_->viewport()->update();
  sStartMailCounts();
}

void Form1::sAddSubFolders(const std::filesystem::path& dir, const QString& parentKey) {
  std::unordered_set<std::string> keys;
  for (auto it = nodes_.cbegin(); it != nodes_.cend(); ++it) keys.insert(u8(it.key()));
  std::vector<folderTree::Node> found;
  folderTree::sAddSubFolders(dir, u8(parentKey), found, keys);
  for (const folderTree::Node& n : found) {
    fAddNode(qs(n.parentKey), qs(n.key), qs(n.text), n.image, n.selectedImage, n.count);
  }
}

QTreeWidgetItem* Form1::fNode(const QString& key) const { return nodes_.value(key); }

QTreeWidgetItem* Form1::fGetRootNode(QTreeWidgetItem* node) {
  while (node && node->parent()) node = node->parent();
  return node;
}

std::filesystem::path Form1::fNodeFolder(QTreeWidgetItem* node) const {
  if (!node || !node->parent()) return {};
  QStringList below;
  for (QTreeWidgetItem* n = node; n && n->parent(); n = n->parent()) below.prepend(n->text(0));
  int number = folderTree::fNodeAccount(u8(FolderTree::fKey(node)));
  return mailstore::fNodeFolder(accountPrefix_, number, u8(below.join(QLatin1Char('\\'))));
}

void Form1::sMailCount() { sShowMailCounts(fMailCounter()()); }

namespace {

struct CountedFolder {
  std::string key;
  std::filesystem::path account, folder;
};

// Counts the folders, each account's remembered records read and written once. Folders
// the records do not serve are counted afresh while fewer than `budget` entries have
// been listed; the others go to `left`.
Form1::MailCounts countFolders(const std::vector<CountedFolder>& folders, long budget,
                               std::vector<CountedFolder>* left) {
  Form1::MailCounts counts;
  counts.reserve(folders.size());
  std::map<std::filesystem::path, countcache::AccountCounts> accounts;
  long listed = 0;
  for (const CountedFolder& f : folders) {
    countcache::AccountCounts& records = accounts.try_emplace(f.account, f.account).first->second;
    const long before = records.fListed();
    std::optional<int> count = records.fCount(f.folder, folderTree::fIsTrashKey(f.key), listed < budget);
    listed += records.fListed() - before;
    if (count) {
      counts.emplace_back(f.key, *count);
    } else if (left) {
      left->push_back(f);
    }
  }
  for (auto& [account, records] : accounts) records.fSave();
  return counts;
}

}  // namespace

std::function<Form1::MailCounts()> Form1::fMailCounter() const {
  std::vector<CountedFolder> folders;
  for (QTreeWidgetItem* node : std::as_const(nodes_)) {
    if (!node->parent()) continue;
    const std::string key = u8(FolderTree::fKey(node));
    folders.push_back({key, mailstore::fAccountFolder(accountPrefix_, folderTree::fNodeAccount(key)),
                       fNodeFolder(node)});
  }
  return [folders = std::move(folders)] { return countFolders(folders, LONG_MAX, nullptr); };
}

void Form1::sStartMailCounts() {
  // About a few hundredths of a second of listing before the window goes on.
  constexpr long kListNow = 20000;
  std::vector<CountedFolder> folders;
  for (QTreeWidgetItem* node : std::as_const(nodes_)) {
    if (!node->parent()) continue;
    const std::string key = u8(FolderTree::fKey(node));
    folders.push_back({key, mailstore::fAccountFolder(accountPrefix_, folderTree::fNodeAccount(key)),
                       fNodeFolder(node)});
  }
  std::vector<CountedFolder> left;
  sShowMailCounts(countFolders(folders, kListNow, &left));
  if (left.empty()) return;
  sWaitMailCounts();
  const int shown = countsShown_;
  countThread_ = std::thread([this, shown, left = std::move(left)] {
    MailCounts counts = countFolders(left, LONG_MAX, nullptr);
    QMetaObject::invokeMethod(
        this,
        [this, shown, counts = std::move(counts)] {
          if (countsShown_ == shown) sShowMailCounts(counts);
        },
        Qt::QueuedConnection);
  });
}

void Form1::sWaitMailCounts() {
  if (countThread_.joinable()) countThread_.join();
}

void Form1::sShowMailCounts(const MailCounts& counts) {
  ++countsShown_;
  {
    // Told one by one, the shown tree would measure all its rows again for each count:
    // thousands of counts filling in would stall the window for seconds.
    const QSignalBlocker quiet(tv_->model());
    // By key: the tree may have been rebuilt while the counts were worked out.
    for (const auto& [key, count] : counts) {
      if (QTreeWidgetItem* node = fNode(QString::fromStdString(key)))
        node->setData(0, FolderTree::kCountRole, QString::number(count));
    }
  }
  tv_->header()->resizeSections(QHeaderView::ResizeToContents);
  tv_->viewport()->update();
}

void Form1::sClearView() {
  listModel_->sClear();
  shownPath_.clear();
  cmd_->setEnabled(false);  // no mail shown: nothing to reply to
  FootyWriteEnable(0, true);
  FootySetText(0, QString());
  FootyWriteEnable(0, false);
  sClearHeaderPanel();
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

bool Form1::fCanRename(QTreeWidgetItem* node) const {
  return node && !receiving_ && !folderTree::fIsStandardKey(u8(FolderTree::fKey(node)));
}

bool Form1::fRenameNode(QTreeWidgetItem* node, const QString& text) {
  if (!fCanRename(node)) return false;
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

void Form1::sEndTreeDrag() {
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
  sEndTreeDrag();
}
