#include "ui/address/frmAddress.h"

#include <QAction>
#include <QDataStream>
#include <QDropEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "address/addressbook.h"
#include "ui/main/MailListModel.h"
#include "ui/common/dialogparts.h"

namespace {

QPointer<frmAddress> g_open;

constexpr int kDataRole = Qt::UserRole;      // a book row's entries, in the stored form
constexpr int kNameRole = Qt::UserRole + 1;  // a book row's name as last accepted
const QString kPickMime = QStringLiteral("application/x-quillbrook-address-entry");
const QString kTitle = QStringLiteral("アドレス帳");

// Entry texts live in the window with "\n" line breaks, in the core with CR LF.
QString fromCore(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
std::string toCore(const QString& text) {
  return QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toStdString();
}

// The entry list hands dragged entries over as name and address for the pick lists.
class EntryList : public QTreeWidget {
 public:
  using QTreeWidget::QTreeWidget;

 protected:
  QStringList mimeTypes() const override { return {kPickMime}; }
  QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
    if (items.isEmpty()) return nullptr;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << QStringList{items.first()->text(0), items.first()->text(1)};
    auto* mime = new QMimeData;
    mime->setData(kPickMime, bytes);
    return mime;
  }
};

QTreeWidget* fList(QWidget* parent, const QString& name, const QStringList& columns,
                   bool entries = false) {
  QTreeWidget* list = entries ? new EntryList(parent) : new QTreeWidget(parent);
  list->setObjectName(name);
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setAllColumnsShowFocus(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->header()->setSectionsClickable(true);
  list->header()->setSortIndicatorShown(false);
  // Grid lines between cells.
  list->setStyleSheet(
      QStringLiteral("QTreeView::item { border: 1px solid #d9d9d9; }"
                     "QTreeView::item:selected { background: palette(highlight);"
                     " color: palette(highlighted-text); }"));
  return list;
}

QAction* fItem(QMenu* menu, const QString& prefix, int index, const QString& caption) {
  QAction* a = caption == QLatin1String("-") ? menu->addSeparator() : menu->addAction(caption);
  a->setObjectName(QStringLiteral("%1_%2").arg(prefix).arg(index));
  return a;
}

}  // namespace

// --- Opening ---------------------------------------------------------------------------

frmAddress* frmAddress::sOpen(const Request& request) {
  if (g_open) {
    g_open->raise();
    g_open->activateWindow();
    return g_open;
  }
  const bool pick = request.mode == Mode::Pick && request.composer;
  auto* window = new frmAddress(request, pick ? request.composer : request.owner);
  g_open = window;
  window->setWindowModality(request.mode == Mode::Pick ? Qt::WindowModal : Qt::NonModal);
  window->show();
  return window;
}

frmAddress* frmAddress::fCurrent() { return g_open; }

frmAddress::frmAddress(const Request& request, QWidget* parent)
    : QDialog(parent),
      settingsPath_(request.settingsPath),
      mode_(request.mode),
      recipients_{request.recipients.to, request.recipients.cc, request.recipients.bcc} {
  setObjectName(QStringLiteral("frmAddress"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(kTitle);
  if (request.owner) setWindowIcon(request.owner->windowIcon());
  sCreateControls();
  sCreateMenus();
  sLayout();
  sLoadBooks();
  if (mode_ == Mode::Address) sFillFromSender(request.sender);
}

void frmAddress::sCreateControls() {
  lv_[0] = fList(this, QStringLiteral("lv_0"), {QStringLiteral("アドレス帳")});
  lv_[0]->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  lv_[1] = fList(this, QStringLiteral("lv_1"),
                 {QStringLiteral("名前"), QStringLiteral("アドレス"), QStringLiteral("音声"),
                  QStringLiteral("メモ")},
                 true);
  lv_[1]->setDragEnabled(true);
  lv_[1]->setDragDropMode(QAbstractItemView::DragOnly);
  for (int i = 2; i < 5; ++i) {
    lv_[i] = fList(this, QStringLiteral("lv_%1").arg(i),
                   {QStringLiteral("名前"), QStringLiteral("アドレス")});
    lv_[i]->viewport()->setAcceptDrops(true);
    lv_[i]->viewport()->installEventFilter(this);
  }
  for (int i = 0; i < 2; ++i) lv_[i]->viewport()->installEventFilter(this);

  txt_0 = new QLineEdit(this);
  txt_1 = new QPlainTextEdit(this);
  txt_1->setToolTip(QStringLiteral("改行して複数のアドレスをグループ化できます"));
  txt_2 = new QLineEdit(this);
  txt_2->setToolTip(QStringLiteral("読み上げてほしい名前をひらがなで入力してください"));
  txt_3 = new QPlainTextEdit(this);
  txt_[0] = txt_0, txt_[1] = txt_1, txt_[2] = txt_2, txt_[3] = txt_3;
  const QString labels[] = {QStringLiteral("名前"), QStringLiteral("アドレス"),
                            QStringLiteral("音声"), QStringLiteral("メモ")};
  for (int i = 0; i < 4; ++i) {
    txt_[i]->setObjectName(QStringLiteral("txt_%1").arg(i));
    txt_[i]->installEventFilter(this);
    lbl_[i] = new QLabel(labels[i], this);
    lbl_[i]->setObjectName(QStringLiteral("lbl_%1").arg(i));
    lbl_[i]->setAutoFillBackground(false);
  }

  const bool pick = mode_ == Mode::Pick;
  const std::pair<QString, QString> buttons[] = {
      {QStringLiteral("OK"), QStringLiteral("設定を保存して閉じる")},
      {QStringLiteral("キャンセル"), QStringLiteral("設定を保存せず閉じる")},
      {pick ? QStringLiteral("宛先") : QStringLiteral("追加"),
       QStringLiteral("アドレスリストに新規追加")},
      {pick ? QStringLiteral("Cc") : QStringLiteral("編集"),
       QStringLiteral("選択しているアドレスを入力した設定に変更")},
      {pick ? QStringLiteral("Bcc") : QStringLiteral("削除"),
       QStringLiteral("選択しているアドレスを削除")},
  };
  for (int i = 0; i < 5; ++i) {
    cmdMenu_[i] = new QPushButton(buttons[i].first, this);
    cmdMenu_[i]->setObjectName(QStringLiteral("cmdMenu_%1").arg(i));
    if (!pick) cmdMenu_[i]->setToolTip(buttons[i].second);
    cmdMenu_[i]->setAutoDefault(false);
    connect(cmdMenu_[i], &QPushButton::clicked, this, [this, i] { cmdMenu_Click(i); });
  }

  connect(lv_[0], &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* book) { sLoadEntries(book); });
  connect(lv_[0], &QTreeWidget::itemChanged, this,
          [this](QTreeWidgetItem* book) { sBookRenamed(book); });
  connect(lv_[0]->header(), &QHeaderView::sectionClicked, this, [this] { sSortBooks(); });
  connect(lv_[1], &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* row) { sEntrySelected(row); });
  // A click on the row already selected brings its values back into the fields.
  connect(lv_[1], &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* row) { sEntrySelected(row); });
  connect(lv_[1]->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { sSortEntries(column); });
}

void frmAddress::sCreateMenus() {
  auto* bar = new QMenuBar(this);
  mnuFile_ = bar->addMenu(QStringLiteral("ファイル(&F)"));
  mnuFile_->setObjectName(QStringLiteral("mnuFile"));
  connect(fItem(mnuFile_, "mnuFileItem", 0, QStringLiteral("新規アドレス帳(&N)")),
          &QAction::triggered, this, [this] { mnuFileItem_Click(0); });
  connect(fItem(mnuFile_, "mnuFileItem", 1, QStringLiteral("アドレス帳削除(&D)")),
          &QAction::triggered, this, [this] { mnuFileItem_Click(1); });
  fItem(mnuFile_, "mnuFileItem", 9, QStringLiteral("-"));
  connect(fItem(mnuFile_, "mnuFileItem", 10, QStringLiteral("保存せず閉じる(&C)")),
          &QAction::triggered, this, [this] { mnuFileItem_Click(10); });
  connect(fItem(mnuFile_, "mnuFileItem", 11, QStringLiteral("保存して閉じる(&X)")),
          &QAction::triggered, this, [this] { mnuFileItem_Click(11); });
  mnuAd_ = bar->addMenu(QStringLiteral("アドレス"));
  mnuAd_->setObjectName(QStringLiteral("mnuAd"));
  connect(fItem(mnuAd_, "mnuAdItem", 0, QStringLiteral("削除(&D)")), &QAction::triggered, this,
          [this] { sDeleteEntry(); });
  mnuTo_ = new QMenu(this);
  mnuTo_->setObjectName(QStringLiteral("mnuTo"));
  connect(fItem(mnuTo_, "mnuToItem", 0, QStringLiteral("削除(&D)")), &QAction::triggered, this,
          [this] { delete lv_[popupList_]->currentItem(); });
  connect(fItem(mnuTo_, "mnuToItem", 1, QStringLiteral("クリア(&C)")), &QAction::triggered, this,
          [this] { lv_[popupList_]->clear(); });
  if (mode_ == Mode::Pick) {
    mnuFile_->setEnabled(false);
    mnuAd_->setEnabled(false);
  }
  menuBar_ = bar;
}

void frmAddress::sLayout() {
  auto* root = new QVBoxLayout(this);
  root->setMenuBar(menuBar_);
  auto* lists = new QHBoxLayout;
  lists->addWidget(lv_[0], 1);
  auto* center = new QVBoxLayout;
  center->addWidget(lv_[1], 1);
  auto* fields = new QGridLayout;
  for (int i = 0; i < 4; ++i) {
    fields->addWidget(lbl_[i], i, 0, Qt::AlignTop);
    fields->addWidget(txt_[i], i, 1);
  }
  txt_1->setFixedHeight(60);
  txt_3->setFixedHeight(60);
  center->addLayout(fields);
  lists->addLayout(center, mode_ == Mode::Pick ? 2 : 4);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  if (mode_ == Mode::Pick) {
    // The fields give way to the three pick lists, each with its button beside it.
    for (int i = 0; i < 4; ++i) {
      txt_[i]->hide();
      lbl_[i]->hide();
    }
    auto* picks = new QGridLayout;
    for (int i = 0; i < 3; ++i) {
      picks->addWidget(cmdMenu_[2 + i], i, 0, Qt::AlignTop);
      picks->addWidget(lv_[2 + i], i, 1);
    }
    lists->addLayout(picks, 3);
  } else {
    for (int i = 2; i < 5; ++i) {
      lv_[i]->hide();
      buttons->addWidget(cmdMenu_[i]);
    }
  }
  buttons->addWidget(cmdMenu_[0]);
  buttons->addWidget(cmdMenu_[1]);
  root->addLayout(lists, 1);
  root->addLayout(buttons);
  resize(mode_ == Mode::Pick ? 760 : 680, 460);
}

void frmAddress::sLoadBooks() {
  QSignalBlocker block(lv_[0]);
  for (const addressbook::Book& b : addressbook::fLoad(settingsPath_)) {
    auto* item = new QTreeWidgetItem(lv_[0], {QString::fromStdString(b.name)});
    item->setData(0, kDataRole, QString::fromStdString(b.data));
    item->setData(0, kNameRole, item->text(0));
    item->setFlags(item->flags() | Qt::ItemIsEditable);
  }
  if (QTreeWidgetItem* first = lv_[0]->topLevelItem(0)) {
    lv_[0]->setCurrentItem(first);
    sLoadEntries(first);
  }
}

void frmAddress::sFillFromSender(const QString& sender) {
  if (sender.isEmpty()) return;
  auto [name, address] = addressbook::fSplitSender(sender.toStdString());
  txt_0->setText(QString::fromStdString(name));
  txt_1->setPlainText(QString::fromStdString(address));
}

// --- Entries ---------------------------------------------------------------------------

QTreeWidgetItem* frmAddress::fBook() const { return lv_[0]->currentItem(); }

void frmAddress::sLoadEntries(QTreeWidgetItem* book) {
  lv_[1]->clear();
  if (!book) return;
  QList<QTreeWidgetItem*> rows;
  for (const addressbook::Entry& e :
       addressbook::fParseBook(book->data(0, kDataRole).toString().toStdString())) {
    rows << new QTreeWidgetItem(
        QStringList{fromCore(e.name), fromCore(e.address), fromCore(e.reading), fromCore(e.memo)});
  }
  lv_[1]->addTopLevelItems(rows);
}

void frmAddress::sStoreEntries() {
  QTreeWidgetItem* book = fBook();
  if (!book) return;
  std::vector<addressbook::Entry> entries;
  entries.reserve(static_cast<size_t>(lv_[1]->topLevelItemCount()));
  for (int i = 0; i < lv_[1]->topLevelItemCount(); ++i) {
    QTreeWidgetItem* r = lv_[1]->topLevelItem(i);
    entries.push_back(
        {toCore(r->text(0)), toCore(r->text(1)), toCore(r->text(2)), toCore(r->text(3))});
  }
  book->setData(0, kDataRole, QString::fromStdString(addressbook::fSerializeBook(entries)));
}

void frmAddress::sSetEntryRow(QTreeWidgetItem* row, const QStringList& values) {
  for (int c = 0; c < 4; ++c) row->setText(c, values[c]);
}

std::optional<QStringList> frmAddress::fFieldsEntry() {
  // Names, addresses and readings are taken without surrounding blanks, as a settings key
  // and a header would read them.
  QStringList values{txt_0->text().trimmed(), txt_1->toPlainText().trimmed(),
                     txt_2->text().trimmed(), txt_3->toPlainText()};
  if (values[1].isEmpty()) {
    sMessage(QStringLiteral("アドレスを入力してください。"));
    return std::nullopt;
  }
  addressbook::Entry e{toCore(values[0]), toCore(values[1]), toCore(values[2]), toCore(values[3])};
  if (auto why = addressbook::fCheckEntry(e)) {
    sMessage(QString::fromStdString(*why));
    return std::nullopt;
  }
  return values;
}

void frmAddress::sEntrySelected(QTreeWidgetItem* row) {
  if (!row || mode_ == Mode::Pick) return;
  txt_0->setText(row->text(0));
  txt_1->setPlainText(row->text(1));
  txt_2->setText(row->text(2));
  txt_3->setPlainText(row->text(3));
}

void frmAddress::sAddEntry() {
  if (!fBook()) {
    sMessage(lv_[0]->topLevelItemCount() == 0
                 ? QStringLiteral("アドレス帳がありません。右クリックの「新規アドレス帳」で作成してください。")
                 : QStringLiteral("追加先のアドレス帳を選んでください。"));
    return;
  }
  auto values = fFieldsEntry();
  if (!values) return;
  lv_[1]->addTopLevelItem(new QTreeWidgetItem(*values));
  sStoreEntries();
}

void frmAddress::sEditEntry() {
  QTreeWidgetItem* row = lv_[1]->currentItem();
  if (!fBook() || !row) return;
  auto values = fFieldsEntry();
  if (!values) return;
  sSetEntryRow(row, *values);
  sStoreEntries();
}

void frmAddress::sDeleteEntry() {
  QTreeWidgetItem* row = lv_[1]->currentItem();
  if (!row) return;
  delete row;
  sStoreEntries();
}

void frmAddress::sSortEntries(int column) {
  entryOrder_ = column == entrySortColumn_ && entryOrder_ == Qt::AscendingOrder
                    ? Qt::DescendingOrder
                    : Qt::AscendingOrder;
  entrySortColumn_ = column;
  lv_[1]->sortItems(column, entryOrder_);
}

// --- Books -----------------------------------------------------------------------------

QStringList frmAddress::fOtherBookNames(const QTreeWidgetItem* except) const {
  QStringList names;
  for (int i = 0; i < lv_[0]->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lv_[0]->topLevelItem(i);
    if (item != except) names << item->data(0, kNameRole).toString();
  }
  return names;
}

namespace {
std::optional<QString> fNameRefused(const QString& name, const QStringList& others) {
  std::vector<std::string> list;
  for (const QString& o : others) list.push_back(o.toStdString());
  auto why = addressbook::fCheckBookName(name.toStdString(), list);
  return why ? std::optional<QString>(QString::fromStdString(*why)) : std::nullopt;
}
}  // namespace

void frmAddress::sNewBook() {
  auto answer =
      fInput(QStringLiteral("アドレス帳の名前を入力して下さい"), QStringLiteral("新規アドレス帳"));
  if (!answer || answer->trimmed().isEmpty()) return;
  const QString name = answer->trimmed();
  if (auto why = fNameRefused(name, fOtherBookNames(nullptr))) return sMessage(*why);
  QSignalBlocker block(lv_[0]);
  auto* item = new QTreeWidgetItem(lv_[0], {name});
  item->setData(0, kDataRole, QString());
  item->setData(0, kNameRole, name);
  item->setFlags(item->flags() | Qt::ItemIsEditable);
  block.unblock();
  // With no book chosen the entry commands would have nowhere to go.
  if (!fBook()) lv_[0]->setCurrentItem(item);
}

void frmAddress::sDeleteBook() { delete fBook(); }

void frmAddress::sBookRenamed(QTreeWidgetItem* book) {
  const QString old = book->data(0, kNameRole).toString();
  const QString name = book->text(0).trimmed();
  QSignalBlocker block(lv_[0]);
  // An emptied name gives the old one back; a refused one is told first.
  std::optional<QString> why;
  if (!name.isEmpty() && name != old) why = fNameRefused(name, fOtherBookNames(book));
  const bool keepOld = name.isEmpty() || why.has_value();
  book->setText(0, keepOld ? old : name);
  book->setData(0, kNameRole, book->text(0));
  if (why) sMessage(*why);
}

void frmAddress::sSortBooks() {
  bookOrder_ = bookOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  lv_[0]->sortItems(0, bookOrder_);
}

// --- Picking ---------------------------------------------------------------------------

void frmAddress::sPick(int list, QTreeWidgetItem* entry) {
  if (!entry) return;
  const QString address = QString::fromStdString(addressbook::fJoinGroup(toCore(entry->text(1))));
  lv_[list]->addTopLevelItem(new QTreeWidgetItem(QStringList{entry->text(0), address}));
}

bool frmAddress::fDropOnPickList(int list, QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);
  if (!drop->mimeData() || !drop->mimeData()->hasFormat(kPickMime)) return false;
  if (event->type() == QEvent::Drop) {
    QStringList values;
    QDataStream in(drop->mimeData()->data(kPickMime));
    in >> values;
    if (values.size() == 2) {
      QTreeWidgetItem entry(QStringList{values[0], values[1]});
      sPick(list, &entry);
    }
  }
  drop->acceptProposedAction();
  return true;
}

void frmAddress::sAppendPicked() {
  for (int i = 0; i < 3; ++i) {
    QLineEdit* field = recipients_[i];
    if (!field) continue;
    QString text = field->text();
    for (int r = 0; r < lv_[2 + i]->topLevelItemCount(); ++r) {
      QTreeWidgetItem* row = lv_[2 + i]->topLevelItem(r);
      text += QString::fromStdString(
          addressbook::fPickText(row->text(0).toStdString(), row->text(1).toStdString()));
    }
    field->setText(text);
  }
}

// --- Commands --------------------------------------------------------------------------

void frmAddress::sSaveAndClose() {
  std::vector<addressbook::Book> books;
  for (int i = 0; i < lv_[0]->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lv_[0]->topLevelItem(i);
    books.push_back(
        {item->text(0).toStdString(), item->data(0, kDataRole).toString().toStdString()});
  }
  // Closing after a failed write would throw the user's work away unseen.
  if (!addressbook::fSave(settingsPath_, books))
    return sMessage(QStringLiteral("アドレス帳を保存できませんでした"));
  accept();
}

void frmAddress::cmdMenu_Click(int index) {
  if (mode_ == Mode::Pick) {
    if (index >= 2) return sPick(index, lv_[1]->currentItem());
    if (index == 0) sAppendPicked();
    return index == 0 ? accept() : reject();
  }
  switch (index) {
    case 0:
      return sSaveAndClose();
    case 1:
      return reject();
    case 2:
      return sAddEntry();
    case 3:
      return sEditEntry();
    case 4:
      return sDeleteEntry();
  }
}

void frmAddress::mnuFileItem_Click(int index) {
  if (mode_ == Mode::Pick) return;
  switch (index) {
    case 0:
      return sNewBook();
    case 1:
      return sDeleteBook();
    case 10:
      return reject();
    case 11:
      return sSaveAndClose();
  }
}

bool frmAddress::eventFilter(QObject* watched, QEvent* event) {
  for (int i = 0; i < 4; ++i) {
    if (watched != txt_[i]) continue;
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
      dialogparts::sMarkFocus(txt_[i], lbl_[i], event->type() == QEvent::FocusIn);
    return false;
  }
  for (int i = 0; i < 5; ++i) {
    if (watched != lv_[i]->viewport()) continue;
    const QEvent::Type type = event->type();
    if (i >= 2 && (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop))
      return fDropOnPickList(i, event);
    if (type != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::RightButton) return false;
    const QPoint at = mouse->globalPosition().toPoint();
    if (i == 0 && mode_ != Mode::Pick) mnuFile_->popup(at);
    if (i == 1 && mode_ != Mode::Pick) mnuAd_->popup(at);
    if (i >= 2) {
      popupList_ = i;
      mnuTo_->popup(at);
    }
    return false;
  }
  return QDialog::eventFilter(watched, event);
}

std::optional<QString> frmAddress::fInput(const QString& prompt, const QString& title) {
  if (inputBox) return inputBox(prompt, title);
  bool ok = false;
  QString text = QInputDialog::getText(this, title, prompt, QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return text;
}

void frmAddress::sMessage(const QString& text) {
  if (messageBox) return messageBox(text);
  QMessageBox box(QMessageBox::NoIcon, kTitle, text, QMessageBox::Ok, this);
  box.exec();
}
