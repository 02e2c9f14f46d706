// Form1: the mail list - filling, sorting, keys, mouse, drag start and the delete command.
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTreeView>
#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MessageView.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "mail/maillist.h"
#include "search/hitcommands.h"
#include "store/folderTree.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace {

// The list's own hook: focus and clicks switch the Edit menu, keys and the right button
// run the mail commands.
class ListHook : public QObject {
 public:
  std::function<bool(QObject*, QEvent*)> filter;
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override { return filter(watched, event); }
};

}  // namespace

int Form1::sFillReceivedList(const std::filesystem::path& folder) {
  view_->clear();
  return ListView1_->fill(folder, false);
}

int Form1::sFillSentList(const std::filesystem::path& folder) {
  view_->clear();
  return ListView1_->fill(folder, true);
}

void Form1::sAddReceivedItem(const std::filesystem::path& file) { ListView1_->addMail(file, false); }

void Form1::sAddSentItem(const std::filesystem::path& file) { ListView1_->addMail(file, true); }

void Form1::sSortByColumn(int column) { ListView1_->sortByColumn(column - 1); }

QString Form1::fSelectedMailPath() const { return ListView1_->currentPath(); }

QString Form1::fShownMailPath() const {
  return view_->shownPath().isEmpty() ? fSelectedMailPath() : view_->shownPath();
}

void Form1::sSelectAllMails() { ListView1_->selectAll(); }

void Form1::deleteSelectedMails() {
  // The rows came from the listed folder, whatever node the tree highlights now: only
  // rows listed from the trash are deleted for good. Search hits from every folder are
  // each deleted where they live.
  const bool hits = listModel_->fFolderColumn();
  if (listedKey_.isEmpty() && !hits) return;  // an account node lists nothing to delete
  const std::string key = listedKey_.toStdString();
  const bool trash =
      key.rfind(mailstore::kTrash, 0) == 0 && key.size() == mailstore::kTrash.size() + 2;
  std::vector<int> rows;
  for (const QModelIndex& i : ListView1_->selectionModel()->selectedRows()) rows.push_back(i.row());
  if (rows.empty()) return;
  std::sort(rows.begin(), rows.end(), std::greater<>());
  std::vector<std::filesystem::path> files;
  for (int r : rows) files.push_back(mailstore::fPath(listModel_->fRow(r).path.toStdString()));
  // A mail that could not be moved or deleted stays listed, with its state.
  std::vector<std::filesystem::path> failed;
  if (hits) {
    failed = search::fDeleteWhereTheyLive(accountPrefix_, files);
  } else if (trash) {
    failed = mailstore::fDeleteMails(files);
  } else {
    const int number = folderTree::fNodeAccount(key);
    failed = mailstore::fMoveMails(files, mailstore::fAccountFolder(accountPrefix_, number) /
                                              mailstore::fPath(mailstore::kTrash));
  }
  std::vector<int> gone;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (std::find(failed.begin(), failed.end(), files[i]) == failed.end()) gone.push_back(rows[i]);
  }
  const int firstGone = gone.empty() ? -1 : *std::min_element(gone.begin(), gone.end());
  listModel_->sRemoveRows(gone);
  sMailCount();
  sShowListTotal();
  if (!failed.empty()) {
    sSetStatus(1, (trash ? QStringLiteral("%1件のメールを削除できませんでした")
                         : QStringLiteral("%1件のメールをごみ箱へ移動できませんでした"))
                      .arg(failed.size()));
  }
  // The row now at the place of the first deleted one becomes current and is shown.
  const int n = listModel_->rowCount();
  if (n == 0) {
    sClearView();
    return;
  }
  int row = firstGone < 0 ? ListView1_->currentIndex().row() : std::min(firstGone, n - 1);
  if (row < 0) return;
  ListView1_->selectionModel()->setCurrentIndex(
      listModel_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  ListView1_ItemClick();
}

void Form1::installMailCommands() {
  listFiller_ = [this](const std::filesystem::path& folder, bool sentType) {
    sentType ? sFillSentList(folder) : sFillReceivedList(folder);
  };
  listModel_->striped = [this] { return fStriped(); };
  listModel_->dragStarted = [this] { dragOriginNode_ = tv_->currentItem(); };

  QHeaderView* header = ListView1_->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(listModel_->fSortColumn(), listModel_->fSortOrder());
  connect(header, &QHeaderView::sectionClicked, this,
          [this](int section) { sSortByColumn(section + 1); });

  ListView1_->setDragEnabled(true);
  ListView1_->setDragDropMode(QAbstractItemView::DragOnly);
  ListView1_->setDefaultDropAction(Qt::MoveAction);
  connect(ListView1_, &QTreeView::clicked, this, [this] { ListView1_ItemClick(); });
  connect(ListView1_, &QTreeView::doubleClicked, this, [this] {
    if (!ListView1_->currentIndex().isValid()) return;
    // One's own drafts and pending mails open for editing, not for a reply.
    const QString kind = listedKey_.chopped(std::min<qsizetype>(2, listedKey_.size()));
    if (kind == QStringLiteral("下書き") || kind == QStringLiteral("送信待ち")) {
      sEditStoredMail(fSelectedMailPath());
    } else {
      sRunMenuItem(Menu::List, menuitem::list::kReply);
    }
  });

  auto* hook = new ListHook(ListView1_);
  // Focus changes also arrive while the window is being destroyed: that part of the hook
  // touches nothing but the menu, through a guarded pointer.
  QPointer<QMenu> edit = fMenu(Menu::Footy);
  hook->filter = [this, edit](QObject* watched, QEvent* event) {
    switch (event->type()) {
      case QEvent::FocusIn:
      case QEvent::FocusOut:
        if (edit && watched == ListView1_)
          edit->menuAction()->setEnabled(event->type() == QEvent::FocusOut);
        break;
      case QEvent::MouseButtonPress:
        if (edit) edit->menuAction()->setEnabled(false);
        break;
      case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (watched == ListView1_->viewport() && me->button() == Qt::RightButton &&
            listModel_->rowCount() > 0 && ListView1_->selectionModel()->hasSelection()) {
          fMenu(Menu::List)->popup(me->globalPosition().toPoint());
        }
        break;
      }
      case QEvent::ShortcutOverride: {
        // Ctrl+A and Delete belong to the list while it has the focus, not to the menus.
        auto* ke = static_cast<QKeyEvent*>(event);
        if (watched == ListView1_ &&
            (ke->matches(QKeySequence::SelectAll) || ke->key() == Qt::Key_Delete)) {
          event->accept();
          return true;
        }
        break;
      }
      case QEvent::KeyPress: {
        if (watched != ListView1_) break;
        auto* ke = static_cast<QKeyEvent*>(event);
        if (ke->matches(QKeySequence::SelectAll)) {
          sRunMenuItem(Menu::List, menuitem::list::kSelectAll);
          return true;
        }
        if (ke->key() == Qt::Key_Delete) {
          sRunMenuItem(Menu::List, menuitem::list::kDelete);
          return true;
        }
        break;
      }
      default:
        break;
    }
    return false;
  };
  ListView1_->installEventFilter(hook);
  ListView1_->viewport()->installEventFilter(hook);

  sSetMenuHandler(Menu::List, menuitem::list::kDelete, [this] { deleteSelectedMails(); });
  sSetMenuHandler(Menu::List, menuitem::list::kShowHtml, [this] { sShowHtml(); });
  sSetMenuHandler(Menu::List, menuitem::list::kShowEuc, [this] { sShowEuc(); });
  sSetMenuHandler(Menu::List, menuitem::list::kSelectAll, [this] { sSelectAllMails(); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kShowHtml, [this] { sShowHtml(); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kShowEuc, [this] { sShowEuc(); });
  sSetMenuHandler(Menu::Attach, menuitem::attach::kOpen, [this] { sOpenAttachment(); });
  sSetMenuHandler(Menu::Attach, menuitem::attach::kSave, [this] { sSaveAttachment(); });
  installHelpCommands();
}
