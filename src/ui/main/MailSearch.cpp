#include "ui/main/MailSearch.h"

#include "mail/maillist.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QShortcut>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <map>

#include "ui/main/Form1.h"
#include "mail/mail.h"
#include "search/index.h"
#include "search/normalize.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace {

constexpr int kTypingPauseMs = 150;          // an all-folders search starts after this pause
constexpr int kSyncEveryMs = 60 * 1000;      // new, moved and deleted mail reach the index
constexpr std::size_t kReportFrom = 200;     // syncs this big show their progress
constexpr std::size_t kMostHits = 5000;      // rows listed at most

// The rows of the hits: the header texts, the read state and the folder below MailBox.
std::vector<MailRow> hitRows(const std::vector<std::filesystem::path>& hits, const std::filesystem::path& mailBox) {
  std::map<std::filesystem::path, std::unordered_map<std::string, std::string>> states;
  std::vector<MailRow> rows;
  for (const auto& file : hits) {
    if (rows.size() >= kMostHits) break;
    const std::filesystem::path folder = file.parent_path();
    auto known = states.find(folder);
    if (known == states.end())
      known = states.emplace(folder, mod_ini::IniFile::fLoad(folder / "icon.ini").fSectionValues("Icon")).first;
    maillist::Entry entry{file, maillist::fReadHeaders(file, false).value_or(maillist::Headers{}),
                          maillist::fIsRead(known->second, file)};
    MailRow row = MailListModel::fRowOf(entry);
    row.folder = QString::fromStdString(mailstore::fUtf8(folder.lexically_relative(mailBox)));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

MailSearch::MailSearch(Form1& form)
    : QObject(&form), form_(form), searches_(std::make_unique<QThreadPool>()), syncs_(std::make_unique<QThreadPool>()) {
  searches_->setMaxThreadCount(1);
  syncs_->setMaxThreadCount(1);
  // The bar lies on the list's parent; the layout gives it the top of the list's place.
  bar_ = new QWidget(form.fListView()->parentWidget());
  bar_->setObjectName(QStringLiteral("searchBar"));
  auto* layout = new QHBoxLayout(bar_);
  layout->setContentsMargins(0, 0, 0, 2);
  box_ = new QLineEdit(bar_);
  box_->setObjectName(QStringLiteral("txtSearch"));
  box_->setPlaceholderText(QStringLiteral("検索 (Ctrl+F)"));
  box_->setClearButtonEnabled(true);
  all_ = new QCheckBox(QStringLiteral("全フォルダ"), bar_);
  all_->setObjectName(QStringLiteral("chkSearchAll"));
  all_->setToolTip(QStringLiteral("全アカウントの全フォルダを本文まで検索します"));
  layout->addWidget(box_, 1);
  layout->addWidget(all_);
  bar_->show();
  box_->installEventFilter(this);

  auto* find = new QShortcut(QKeySequence::Find, &form);
  find->setContext(Qt::WindowShortcut);
  connect(find, &QShortcut::activated, this, [this] {
    box_->setFocus(Qt::ShortcutFocusReason);
    box_->selectAll();
  });
  debounce_ = new QTimer(this);
  debounce_->setSingleShot(true);
  debounce_->setInterval(kTypingPauseMs);
  connect(debounce_, &QTimer::timeout, this, &MailSearch::sStartSearch);
  connect(box_, &QLineEdit::textChanged, this, &MailSearch::sTextChanged);
  connect(all_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) {
      sApplyFilter();  // the listed folder shows every row again
      if (!box_->text().trimmed().isEmpty()) sStartSearch();
    } else {
      sLeaveHits(true);
      sApplyFilter();
    }
  });

  MailListModel* model = form.fListModel();
  connect(model, &QAbstractItemModel::modelReset, this, [this] { sListChanged(true); });
  connect(model, &QAbstractItemModel::rowsInserted, this, [this] { sListChanged(false); });
  connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { keysValid_ = false; });
  connect(model, &QAbstractItemModel::layoutChanged, this, [this] { keysValid_ = false; });

  syncTimer_ = new QTimer(this);
  syncTimer_->setInterval(kSyncEveryMs);
  connect(syncTimer_, &QTimer::timeout, this, &MailSearch::sSyncIndex);
  syncTimer_->start();
  // The first sync (the whole build on a first start) once the window is up.
  QTimer::singleShot(2000, this, &MailSearch::sSyncIndex);
}

MailSearch::~MailSearch() {
  // The window is going: what the workers post back is dropped with this object.
  stop_->store(true);
  searches_->waitForDone();
  syncs_->waitForDone();
}

void MailSearch::sWait() {
  searches_->waitForDone();
  syncs_->waitForDone();
  QCoreApplication::sendPostedEvents(this);
}

bool MailSearch::eventFilter(QObject* watched, QEvent* event) {
  if (watched == box_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    box_->clear();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void MailSearch::sTextChanged() {
  if (all_->isChecked()) {
    if (box_->text().trimmed().isEmpty()) {
      debounce_->stop();
      ++generation_;
      sLeaveHits(true);
    } else {
      debounce_->start();
    }
    return;
  }
  sApplyFilter();
}

void MailSearch::sApplyFilter() {
  if (hitsListed_) return;
  QTreeView* view = form_.fListView();
  MailListModel* model = form_.fListModel();
  const QString text = all_->isChecked() ? QString() : box_->text().trimmed();
  const int rows = model->rowCount();
  std::vector<char> shown(static_cast<std::size_t>(rows), 1);
  if (!text.isEmpty()) {
    if (!keysValid_) {
      keys_.clear();
      keys_.reserve(static_cast<std::size_t>(rows));
      for (int r = 0; r < rows; ++r) {
        const MailRow& row = model->fRow(r);
        // A line break between the columns: a term never spans two of them.
        keys_.push_back(search::fNormalize(row.subject.toStdString()) + '\n' +
                        search::fNormalize(row.party.toStdString()));
      }
      keysValid_ = true;
    }
    std::fill(shown.begin(), shown.end(), 0);
    for (std::size_t i : search::fFilter(keys_, text.toStdString())) shown[i] = 1;
  }
  // Only the rows whose state changes are touched: a key press costs what it changes.
  for (int r = 0; r < rows; ++r) {
    const bool hide = !shown[static_cast<std::size_t>(r)];
    if (view->isRowHidden(r, {}) != hide) view->setRowHidden(r, {}, hide);
  }
  // A selected row the filter hid takes no part in the commands.
  const QModelIndexList selected = view->selectionModel()->selectedRows();
  for (const QModelIndex& i : selected) {
    if (view->isRowHidden(i.row(), {}))
      view->selectionModel()->select(i, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
  }
}

void MailSearch::sListChanged(bool reset) {
  keysValid_ = false;
  if (listing_) return;
  if (reset && hitsListed_) {
    // The user listed a folder (a click in the tree): the hits are gone.
    hitsListed_ = false;
    ++generation_;
    QTimer::singleShot(0, this, [this] {
      listing_ = true;
      form_.fListModel()->sSetFolderColumn(false);
      listing_ = false;
      const QSignalBlocker block(all_), blockBox(box_);
      all_->setChecked(false);
      box_->clear();
    });
    return;
  }
  // Rows that arrive in a filtered list are filtered too.
  if (!box_->text().trimmed().isEmpty() && !all_->isChecked())
    QTimer::singleShot(0, this, &MailSearch::sApplyFilter);
}

void MailSearch::sStartSearch() {
  const std::string query = box_->text().trimmed().toStdString();
  if (query.empty()) return;
  const quint64 generation = ++generation_;
  const std::filesystem::path program = form_.fProgramDir();
  QPointer<MailSearch> self(this);
  auto stop = stop_;
  searches_->start([self, stop, generation, query, program] {
    search::MailIndex index(search::fIndexFile(program));
    search::StoreHits hits = search::fSearchStore(program, &index, query, kMostHits);
    if (stop->load()) return;
    std::vector<MailRow> rows = hitRows(hits.paths, program / "MailBox");
    const bool stale = hits.staleFolders > 0;
    QMetaObject::invokeMethod(self, [self, generation, rows = std::move(rows), stale]() mutable {
      if (!self) return;
      self->sShowHits(generation, std::move(rows));
      if (stale) self->sSyncIndex();  // folders read from their files: bring the index up
    }, Qt::QueuedConnection);
  });
}

void MailSearch::sShowHits(quint64 generation, std::vector<MailRow> rows) {
  if (generation != generation_ || !all_->isChecked()) return;
  const int count = static_cast<int>(rows.size());
  listing_ = true;
  hitsListed_ = true;
  form_.sClearView();
  MailListModel* model = form_.fListModel();
  model->sSetFolderColumn(true);
  model->sSetRows(std::move(rows));
  listing_ = false;
  form_.sShowListTotal();
  emit hitsShown(count);
}

void MailSearch::sLeaveHits(bool relist) {
  if (!hitsListed_) return;
  hitsListed_ = false;
  listing_ = true;
  form_.fListModel()->sSetFolderColumn(false);
  form_.fListModel()->sClear();
  listing_ = false;
  if (relist && !form_.fListedKey().isEmpty()) form_.sShowNode(form_.fNode(form_.fListedKey()));
}

void MailSearch::sSyncIndex() {
  if (syncing_.exchange(true)) return;
  const std::filesystem::path program = form_.fProgramDir();
  QPointer<MailSearch> self(this);
  auto stop = stop_;
  // Everything posted back goes through this object: it lives no longer than the window.
  syncs_->start([self, stop, program, this] {
    search::MailIndex index(search::fIndexFile(program));
    bool reported = false;
    const bool ok = index.fSync(search::fStoreFolders(program), [&](std::size_t done, std::size_t total) {
      if (total >= kReportFrom) {
        reported = true;
        QMetaObject::invokeMethod(self, [self, done, total] {
          if (self) self->form_.sSetStatus(1, QStringLiteral("検索用の索引を作成中 %1 / %2").arg(done).arg(total));
        }, Qt::QueuedConnection);
      }
      return !stop->load();
    });
    syncing_ = false;
    if (stop->load()) return;
    QMetaObject::invokeMethod(self, [self, ok, reported] {
      if (!self) return;
      if (reported) self->form_.sSetStatus(1, QStringLiteral("検索用の索引を作成しました"));
      emit self->indexSynced(ok);
    }, Qt::QueuedConnection);
  });
}
