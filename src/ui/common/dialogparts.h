#pragma once
// Pieces the windows share: the focus colours of an input and its label, the OK / Cancel
// row, and menus built from their tables.
#include <QDialog>

class QAction;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;

namespace dialogparts {

// Focused: label blue, background light cyan; otherwise black on white. No label: only
// the background changes.
void sMarkFocus(QWidget* box, QLabel* label, bool focused);

// "OK" (saves and closes, via `onOk`) and "キャンセル" (closes without saving), with their
// tool tips and object names cmdOK / cmdCancel, right-aligned.
QHBoxLayout* fOkCancelRow(QDialog* dialog, std::function<void()> onOk);

// A menu of `owner` with its caption and object name; its title action is named
// `name` + "Title".
QMenu* fNewMenu(QWidget* owner, const char* caption, const char* name);

// An item of a menu table: a separator for the caption "-"; named `itemName` + "_" +
// `index`; its shortcut (when not empty) acts within `context`.
QAction* fAddMenuItem(QMenu* menu, const char* caption, const char* itemName, int index,
                      const char* shortcut, Qt::ShortcutContext context);

// Qt's own buttons and dialogs (OK/Cancel, Yes/No, file dialogs) in Japanese, like the rest.
void sUseJapaneseQtTexts(QObject* application);

// `page` in a frameless scroll area that scrolls only up and down, so a tall page never
// pushes its window past the screen.
QScrollArea* fScrollPage(QWidget* page);

// Makes `window` taller until `area` shows its whole page, but never taller than its screen.
void sGrowToShow(QWidget* window, QScrollArea* area);

}  // namespace dialogparts
