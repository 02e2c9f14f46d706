#include "ui/common/Footy.h"

#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlockFormat>
#include <QTextDocument>
#include <QTextCursor>
#include <vector>

namespace {

struct Instance {
  QPointer<QPlainTextEdit> edit;
  bool writable = true;
  int tabWidth = 8;
};

std::vector<Instance>& instances() {
  static std::vector<Instance> list;
  return list;
}

Instance* find(int id) {
  auto& list = instances();
  if (id < 0 || id >= static_cast<int>(list.size()) || !list[id].edit) return nullptr;
  return &list[id];
}

void applyProtection(Instance& in) {
  in.edit->setReadOnly(!in.writable);
  if (!in.writable) {
    // Read-only still lets the reader select and copy with the keyboard.
    in.edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  }
}

void applyTabWidth(Instance& in) {
  QFontMetricsF fm(in.edit->font());
  in.edit->setTabStopDistance(fm.horizontalAdvance(QLatin1Char(' ')) * in.tabWidth);
}

}  // namespace

int FootyRedim(int count) {
  if (count < 0) return FOOTY_ERR_ID;
  auto& list = instances();
  for (int i = count; i < static_cast<int>(list.size()); ++i) FootyDelete(i);
  list.resize(count);
  return FOOTY_OK;
}

int FootyCreate(int id, QWidget* owner, int x, int y, int width, int height) {
  auto& list = instances();
  if (id < 0 || id >= static_cast<int>(list.size())) return FOOTY_ERR_ID;
  if (list[id].edit) FootyDelete(id);
  Instance& in = list[id];
  in.edit = new QPlainTextEdit(owner);
  in.edit->setObjectName(QStringLiteral("Footy_%1").arg(id));
  in.edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  in.edit->setGeometry(x, y, width, height);
  in.writable = true;
  applyProtection(in);
  in.edit->show();
  return FOOTY_OK;
}

int FootySetFont(int id, const QString& face, int size, int /*charset*/) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  QFont font(face, size);
  font.setStyleHint(QFont::Monospace);  // the face may be missing: fall back to a fixed font
  in->edit->setFont(font);
  applyTabWidth(*in);
  return FOOTY_OK;
}

int FootySetMetrics(int id, int tabWidth, int leftMargin, int lineSpacing) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->tabWidth = tabWidth > 0 ? tabWidth : 8;
  applyTabWidth(*in);
  in->edit->document()->setDocumentMargin(leftMargin);
  QTextBlockFormat fmt;
  fmt.setLineHeight(lineSpacing, QTextBlockFormat::LineDistanceHeight);
  QTextCursor c(in->edit->document());
  c.select(QTextCursor::Document);
  c.mergeBlockFormat(fmt);
  return FOOTY_OK;
}

int FootyEventContextMenu(int id, FootyContextMenuHandler handler, void* data) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  QObject::disconnect(in->edit, &QWidget::customContextMenuRequested, nullptr, nullptr);
  if (!handler) {
    in->edit->setContextMenuPolicy(Qt::DefaultContextMenu);
    return FOOTY_OK;
  }
  in->edit->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(in->edit, &QWidget::customContextMenuRequested, in->edit,
                   [id, handler, data](const QPoint&) { handler(id, 0, data); });
  return FOOTY_OK;
}

int FootySetPos(int id, int x, int y, int width, int height) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->edit->setGeometry(x, y, width < 0 ? 0 : width, height < 0 ? 0 : height);
  return FOOTY_OK;
}

int FootySetVisible(int id, bool visible) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->edit->setVisible(visible);
  return FOOTY_OK;
}

int FootyWriteEnable(int id, bool enable) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->writable = enable;
  applyProtection(*in);
  return FOOTY_OK;
}

int FootySetText(int id, const QString& text) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (!in->writable) return FOOTY_ERR_PROTECTED;
  QString plain = text;
  plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  in->edit->setPlainText(plain);
  return FOOTY_OK;
}

int FootyGetTextLength(int id) {
  QString text;
  if (FootyGetText(id, text, 4) != FOOTY_TEXT_OK) return 0;
  return static_cast<int>(text.size());
}

int FootyGetText(int id, QString& text, int /*mode*/) {
  text.clear();
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  text = in->edit->toPlainText();
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return FOOTY_TEXT_OK;
}

int FootySetSelText(int id, const QString& text) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (!in->writable) return FOOTY_ERR_PROTECTED;
  QString plain = text;
  plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  in->edit->textCursor().insertText(plain);
  return FOOTY_OK;
}

// The edit commands go through the widget, whose read-only state decides what changes.
int FootyCut(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (in->writable) in->edit->cut();
  return FOOTY_OK;
}

int FootyCopy(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->edit->copy();
  return FOOTY_OK;
}

int FootyPaste(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (in->writable) in->edit->paste();
  return FOOTY_OK;
}

int FootyUndo(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (in->writable) in->edit->undo();
  return FOOTY_OK;
}

int FootyRedo(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  if (in->writable) in->edit->redo();
  return FOOTY_OK;
}

int FootySelectAll(int id) {
  Instance* in = find(id);
  if (!in) return FOOTY_ERR_ID;
  in->edit->selectAll();
  return FOOTY_OK;
}

int FootyDelete(int id) {
  auto& list = instances();
  if (id < 0 || id >= static_cast<int>(list.size())) return FOOTY_ERR_ID;
  delete list[id].edit.data();
  list[id] = Instance{};
  return FOOTY_OK;
}

QPlainTextEdit* FootyWidget(int id) {
  Instance* in = find(id);
  return in ? in->edit.data() : nullptr;
}
