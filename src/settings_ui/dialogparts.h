#pragma once
// Pieces both settings dialogs share: the focus colours of an input and its label, and
// the OK / Cancel row.
#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace dialogparts {

// Focused: label blue, background light cyan; otherwise black on white. No label: only
// the background changes.
void sMarkFocus(QWidget* box, QLabel* label, bool focused);

// "OK" (saves and closes, via `onOk`) and "キャンセル" (closes without saving), with their
// tool tips and object names cmdOK / cmdCancel, right-aligned.
QHBoxLayout* fOkCancelRow(QDialog* dialog, std::function<void()> onOk);

}  // namespace dialogparts
