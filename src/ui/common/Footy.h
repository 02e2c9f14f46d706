#pragma once
// The text editor control as the windows call it: instances addressed by a small id
// (0 the main window's message viewer, 1 the composer's editor), each a QPlainTextEdit
// child of its owner. Results: 0 (or -1 where noted) for success, a negative value for
// an unknown id or a refused operation.
#include <QString>

class QPlainTextEdit;
class QWidget;

inline constexpr int FOOTY_OK = 0;
inline constexpr int FOOTY_ERR_ID = -2;
inline constexpr int FOOTY_ERR_PROTECTED = -3;
// FootyGetText's success value.
inline constexpr int FOOTY_TEXT_OK = -1;

using FootyContextMenuHandler = void (*)(int id, int reserved, void* data);

// Room for ids 0 .. count-1. Instances beyond the new count are destroyed.
int FootyRedim(int count);
int FootyCreate(int id, QWidget* owner, int x, int y, int width, int height);
// Font face and point size; the last value selects the character set and is ignored:
// Qt picks fonts per character.
int FootySetFont(int id, const QString& face, int size, int charset);
// Tab width in characters, left margin in pixels and extra line spacing in pixels.
int FootySetMetrics(int id, int tabWidth, int leftMargin, int lineSpacing);
// The handler runs on a right click in the control, with the id and `data`.
int FootyEventContextMenu(int id, FootyContextMenuHandler handler, void* data);
int FootySetPos(int id, int x, int y, int width, int height);
int FootySetVisible(int id, bool visible);
// Write protection off (true) or on (false). While it is on, neither typing nor paste
// nor FootySetText changes the text.
int FootyWriteEnable(int id, bool enable);
int FootySetText(int id, const QString& text);
// Length of the text as FootyGetText returns it (line ends counted as CR LF).
int FootyGetTextLength(int id);
// The whole text with CR LF line ends; FOOTY_TEXT_OK on success. `mode` is the line-end
// mode of the call sites (4 = CR LF), the only one they use.
int FootyGetText(int id, QString& text, int mode);
// Inserts at the caret, replacing the selection (refused while write-protected).
int FootySetSelText(int id, const QString& text);
int FootyCut(int id);
int FootyCopy(int id);
int FootyPaste(int id);
int FootyUndo(int id);
int FootyRedo(int id);
int FootySelectAll(int id);
int FootyDelete(int id);

// The control's widget, for the owner's hook (focus, clicks, keys); null when absent.
QPlainTextEdit* FootyWidget(int id);
