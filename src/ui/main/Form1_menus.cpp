// Form1: the menus, their hover texts and the commands that belong to the window itself.
#include <QAction>
#include <QFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QProxyStyle>
#include <QCoreApplication>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/common/Footy.h"
#include "ui/common/dialogparts.h"
#include "store/mailstore.h"

namespace {

struct MenuDef {
  Form1::Menu menu;
  const char* name;     // object name of the menu
  const char* itemName; // control array of its items
  const char* caption;
  bool inMenuBar;
};

constexpr MenuDef kMenus[] = {
    {Form1::Menu::File, "mnuFile", "mnuFileItem", "ファイル(&F)", true},
    {Form1::Menu::Footy, "mnuFooty", "mnuFootyItem", "編集(&E)", true},
    {Form1::Menu::Set, "mnuSet", "mnuSetItem", "設定(&S)", true},
    {Form1::Menu::Help, "mnuHelp", "mnuHelpItem", "ヘルプ(&H)", true},
    {Form1::Menu::List, "mnuList", "mnuListItem", "リストビューポップアップ", false},
    {Form1::Menu::Attach, "mnuAttach", "mnuAttachItem", "添付", false},
};

struct ItemDef {
  Form1::Menu menu;
  int index;
  const char* caption;  // "-" for a separator
  const char* tip;      // the hover text of panel 1; empty clears it
  const char* shortcut;
};

using M = Form1::Menu;
constexpr ItemDef kItems[] = {
    {M::File, 0, "メール作成(&M)", "送信メールを新規作成します", "Ctrl+N"},
    {M::File, 1, "受信(&R)", "選択アカウントの新規メールを受信します", ""},
    {M::File, 2, "全アカウント受信(&A)", "全アカウントの新規メールを受信します", "F5"},
    {M::File, 3, "送信待ちを送信", "選択アカウントの送信待ちのメールを送信します", ""},
    {M::File, 5, "-", "", ""},
    {M::File, 6, "アカウント追加(&N)...", "アカウントの新規追加", ""},
    {M::File, 7, "アカウント削除(&D)...", "選択アカウントの削除", ""},
    {M::File, 8, "アカウント設定(&S)...", "選択アカウントの設定変更", ""},
    {M::File, 9, "-", "", ""},
    {M::File, 10, "新規フォルダ(&F)", "フォルダの新規作成", ""},
    {M::File, 11, "フォルダ削除(&L)", "選択フォルダの削除", ""},
    {M::File, 13, "ごみ箱を空にする(&E)...", "選択アカウントのごみ箱を空にします", ""},
    {M::File, 19, "-", "", ""},
    {M::File, 20, "終了(&X)", "Quillbrookを終了します", ""},
    {M::Footy, 0, "切り取り(&T)", "", "Ctrl+X"},
    {M::Footy, 1, "コピー(&C)", "選択範囲の文字をクリップボードにコピー", "Ctrl+C"},
    {M::Footy, 2, "貼り付け(&P)", "", "Ctrl+V"},
    {M::Footy, 6, "-", "", ""},
    {M::Footy, 7, "アンドゥ(&U)", "", "Ctrl+Z"},
    {M::Footy, 8, "リドゥ(&R)", "", "Ctrl+Y"},
    {M::Footy, 9, "-", "", ""},
    {M::Footy, 10, "全て選択(&A)", "全ての文字を選択", "Ctrl+A"},
    {M::Footy, 12, "-", "", ""},
    {M::Footy, 13, "HTML表示(&H)", "HTMLメールの表示", ""},
    {M::Footy, 14, "文字コード EUC で表示(&E)", "文字コード EUC で表示", ""},
    {M::Set, 0, "メーラー設定(&M)...", "Quillbrook全般に関する設定", ""},
    {M::Set, 3, "-", "", ""},
    {M::Set, 4, "アドレス帳(&A)", "アドレス帳の編集", ""},
    {M::Set, 5, "定型文の登録(&F)", "定型文の編集", ""},
    {M::Help, 0, "ReadMeを開く(&R)...", "ReadMe.txtを開きます", ""},
    {M::Help, 1, "バージョン情報(&V)...", "バージョン情報、作者情報の表示", ""},
    {M::Help, 2, "-", "", ""},
    {M::Help, 3, "オンラインヘルプ(&O)", "", ""},
    {M::Help, 4, "ホームページ(&P)", "", ""},
    {M::Help, 5, "-", "", ""},
    {M::Help, 6, "アップデート(&U)...", "", ""},
    {M::List, 0, "返信(&R)", "差出人へ返信します", "Ctrl+R"},
    {M::List, 3, "-", "", ""},
    {M::List, 4, "削除(&D)", "選択メールを削除", ""},
    {M::List, 5, "-", "", ""},
    {M::List, 6, "アドレス帳に追加(&B)", "選択メールのアドレスをアドレス帳へ登録", ""},
    {M::List, 7, "HTML表示(&H)", "HTMLメールの表示", ""},
    {M::List, 8, "文字コード EUC で表示(&E)", "文字コード EUC で表示", ""},
    {M::List, 9, "-", "", ""},
    {M::List, 10, "全て選択(&A)", "全てのメールを選択", ""},
    {M::Attach, 0, "開く(&O)", "添付ファイルを開きます", ""},
    {M::Attach, 1, "保存(&S)", "添付ファイルに名前を付けて保存します", ""},
};

// Disabled items still take the highlight, so their hover text shows as for any other.
class MenuStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_Menu_AllowActiveAndDisabled) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

void Form1::createMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MenuBar"));
  std::map<Menu, const MenuDef*> defs;
  auto* menuStyle = new MenuStyle;
  menuStyle->setParent(this);
  for (const MenuDef& m : kMenus) {
    QMenu* menu = dialogparts::fNewMenu(this, m.caption, m.name);
    menu->setStyle(menuStyle);
    // A pop-up menu is a window of its own: its hover texts do not travel up to us.
    menu->installEventFilter(this);
    if (m.inMenuBar) bar->addMenu(menu);
    menus_[m.menu] = menu;
    defs[m.menu] = &m;
  }
  for (const ItemDef& it : kItems) {
    QAction* action = dialogparts::fAddMenuItem(menus_[it.menu], it.caption, defs[it.menu]->itemName,
                                                it.index, it.shortcut, Qt::WidgetWithChildrenShortcut);
    action->setStatusTip(QString::fromUtf8(it.tip));
    if (!action->isSeparator()) action->setEnabled(false);  // until its command is installed
    connect(action, &QAction::triggered, this, [this, m = it.menu, i = it.index] { sRunMenuItem(m, i); });
    items_[{it.menu, it.index}] = action;
  }
  // New mail, reply and receive-all work wherever the focus is in the window; the list's
  // menu is a pop-up, so its key needs the window to carry the action too.
  for (auto [menu, index] : {std::pair{M::File, 0}, {M::File, 2}, {M::List, 0}}) {
    QAction* action = items_[{menu, index}];
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action);
  }
}

QMenu* Form1::fMenu(Menu menu) const {
  auto it = menus_.find(menu);
  return it == menus_.end() ? nullptr : it->second;
}

QAction* Form1::fMenuItem(Menu menu, int index) const {
  auto it = items_.find({menu, index});
  return it == items_.end() ? nullptr : it->second;
}

void Form1::sSetMenuHandler(Menu menu, int index, std::function<void()> handler) {
  QAction* action = fMenuItem(menu, index);
  if (!action || action->isSeparator()) return;
  action->setEnabled(static_cast<bool>(handler));
  handlers_[{menu, index}] = std::move(handler);
}

void Form1::sRunMenuItem(Menu menu, int index) {
  // A disabled command stays refused whichever way it is reached (keys, code, menus).
  if (QAction* action = fMenuItem(menu, index); action && !action->isEnabled()) return;
  auto it = handlers_.find({menu, index});
  if (it != handlers_.end() && it->second) it->second();
}

void Form1::DeleteMail() { sRunMenuItem(Menu::List, menuitem::list::kDelete); }

void Form1::sSetReceiving(bool receiving) {
  receiving_ = receiving;
  // The account and folder commands; account settings only writes set.ini values.
  for (int index : {6, 7, 10, 11, 13}) {
    QAction* action = fMenuItem(Menu::File, index);
    auto handler = handlers_.find({Menu::File, index});
    if (action) action->setEnabled(!receiving && handler != handlers_.end() && handler->second);
  }
  // Mails dropped on a folder move between folders the run may be filing into.
  tv_->setAcceptDrops(!receiving);
  tv_->viewport()->setAcceptDrops(!receiving);
}

void Form1::installOwnCommands() {
  sSetMenuHandler(Menu::File, menuitem::file::kExit, [this] { close(); });
  installFileCommands();  // accounts, folders and the trash
  sSetMenuHandler(Menu::Set, menuitem::settings::kMailer, [this] { mnuSetItem_0(); });
  installAddressCommands();
  installSearchAndTransfer();
  // The Edit menu works on the viewer; its write protection decides what changes.
  sSetMenuHandler(Menu::Footy, menuitem::edit::kCut, [] { FootyCut(0); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kCopy, [] { FootyCopy(0); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kPaste, [] { FootyPaste(0); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kUndo, [] { FootyUndo(0); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kRedo, [] { FootyRedo(0); });
  sSetMenuHandler(Menu::Footy, menuitem::edit::kSelectAll, [] { FootySelectAll(0); });
  // Shortcuts of the Edit menu act wherever the focus is in the window.
  for (QAction* a : menus_[Menu::Footy]->actions()) a->setShortcutContext(Qt::WindowShortcut);

  const QString readMe = QString::fromStdString(mailstore::fUtf8(programDir_ / "ReadMe.txt"));
  if (QFile::exists(readMe)) {
    sSetMenuHandler(Menu::Help, menuitem::help::kReadMe, [this, readMe] { fShellOpen(readMe, QString(), QString()); });
  }
  sSetMenuHandler(Menu::Help, menuitem::help::kAbout, [this] {
    QMessageBox::about(this, kTitle,
                       kTitle + QStringLiteral(" " QB_VERSION));
  });
}
