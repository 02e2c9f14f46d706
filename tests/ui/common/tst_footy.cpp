// The editor control adapter over real QPlainTextEdit instances.
#include <QApplication>
#include <QClipboard>
#include <QPointer>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTest>

#include "ui/common/Footy.h"

class FootyTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void unknownIdsAreRefused();
  void textComesBackWithCrLf();
  void writeProtectionIsReal();
  void selTextAndEditCommands();
  void positionVisibilityAndFont();
  void contextMenuHandlerGetsId();
  void deleteAndRedim();

 private:
  std::unique_ptr<QWidget> owner_;
};

void FootyTest::init() {
  owner_ = std::make_unique<QWidget>();
  owner_->resize(400, 300);
  QCOMPARE(FootyRedim(2), FOOTY_OK);
  QCOMPARE(FootyCreate(0, owner_.get(), 0, 0, 0, 0), FOOTY_OK);
  QCOMPARE(FootyCreate(1, owner_.get(), 0, 0, 100, 100), FOOTY_OK);
  owner_->show();
  QVERIFY(QTest::qWaitForWindowExposed(owner_.get()));
}

void FootyTest::cleanup() {
  FootyRedim(0);
  owner_.reset();
}

void FootyTest::unknownIdsAreRefused() {
  QString text = "stale";
  QCOMPARE(FootyCreate(2, owner_.get(), 0, 0, 0, 0), FOOTY_ERR_ID);
  QCOMPARE(FootySetText(5, "x"), FOOTY_ERR_ID);
  QCOMPARE(FootyGetText(-1, text, 4), FOOTY_ERR_ID);
  QVERIFY(text.isEmpty());
  QCOMPARE(FootyGetTextLength(7), 0);
  QVERIFY(!FootyWidget(3));
}

void FootyTest::textComesBackWithCrLf() {
  QCOMPARE(FootySetText(1, "一行目\r\n二行目\nthree\rfour"), FOOTY_OK);
  QString text;
  QCOMPARE(FootyGetText(1, text, 4), FOOTY_TEXT_OK);
  QCOMPARE(text, QString("一行目\r\n二行目\r\nthree\r\nfour"));
  QCOMPARE(FootyGetTextLength(1), static_cast<int>(text.size()));
  QCOMPARE(FootyWidget(1)->blockCount(), 4);
  QCOMPARE(FootySetText(1, ""), FOOTY_OK);
  QCOMPARE(FootyGetTextLength(1), 0);
}

void FootyTest::writeProtectionIsReal() {
  QPlainTextEdit* viewer = FootyWidget(0);
  QCOMPARE(FootySetText(0, "original"), FOOTY_OK);
  QCOMPARE(FootyWriteEnable(0, false), FOOTY_OK);
  QCOMPARE(FootySetText(0, "replaced"), FOOTY_ERR_PROTECTED);
  QCOMPARE(FootySetSelText(0, "inserted"), FOOTY_ERR_PROTECTED);
  viewer->setFocus();
  QTest::keyClicks(viewer, "typed");
  QTest::keyClick(viewer, Qt::Key_Backspace);
  QGuiApplication::clipboard()->setText("pasted");
  FootyPaste(0);
  QTest::keyClick(viewer, Qt::Key_V, Qt::ControlModifier);
  FootySelectAll(0);
  FootyCut(0);
  QString text;
  FootyGetText(0, text, 4);
  QCOMPARE(text, QString("original"));
  QCOMPARE(QGuiApplication::clipboard()->text(), QString("pasted"));  // cut took nothing

  // Lifted only for the replacement.
  FootyWriteEnable(0, true);
  QCOMPARE(FootySetText(0, "replaced"), FOOTY_OK);
  FootyWriteEnable(0, false);
  FootyGetText(0, text, 4);
  QCOMPARE(text, QString("replaced"));
  // The reader can still select and copy.
  FootySelectAll(0);
  FootyCopy(0);
  QCOMPARE(QGuiApplication::clipboard()->text(), QString("replaced"));
}

void FootyTest::selTextAndEditCommands() {
  QPlainTextEdit* editor = FootyWidget(1);
  FootySetText(1, "Hello world");
  QTextCursor c = editor->textCursor();
  c.setPosition(6);
  c.setPosition(11, QTextCursor::KeepAnchor);
  editor->setTextCursor(c);
  QCOMPARE(FootySetSelText(1, "世界\r\n!"), FOOTY_OK);
  QString text;
  FootyGetText(1, text, 4);
  QCOMPARE(text, QString("Hello 世界\r\n!"));
  FootyUndo(1);
  FootyGetText(1, text, 4);
  QCOMPARE(text, QString("Hello world"));
  FootyRedo(1);
  FootyGetText(1, text, 4);
  QCOMPARE(text, QString("Hello 世界\r\n!"));
  FootySelectAll(1);
  FootyCut(1);
  QCOMPARE(FootyGetTextLength(1), 0);
  FootyPaste(1);
  FootyPaste(1);
  FootyGetText(1, text, 4);
  QCOMPARE(text, QString("Hello 世界\r\n!Hello 世界\r\n!"));
  // Typing works where nothing protects the text.
  editor->setFocus();
  QTest::keyClicks(editor, "ab");
  FootyGetText(1, text, 4);
  QVERIFY(text.endsWith("!ab"));
}

void FootyTest::positionVisibilityAndFont() {
  QCOMPARE(FootySetPos(0, 10, 57, 200, 120), FOOTY_OK);
  QCOMPARE(FootyWidget(0)->geometry(), QRect(10, 57, 200, 120));
  QCOMPARE(FootySetPos(0, 0, 0, -5, -5), FOOTY_OK);  // a squeezed window never goes negative
  QCOMPARE(FootyWidget(0)->size(), QSize(0, 0));
  QCOMPARE(FootySetVisible(0, false), FOOTY_OK);
  QVERIFY(!FootyWidget(0)->isVisible());
  FootySetVisible(0, true);
  QVERIFY(FootyWidget(0)->isVisible());
  QCOMPARE(FootySetFont(0, "MS ゴシック", 9, 1), FOOTY_OK);
  QCOMPARE(FootyWidget(0)->font().pointSize(), 9);
  QCOMPARE(FootySetMetrics(0, 8, 4, 1), FOOTY_OK);
  QFontMetricsF fm(FootyWidget(0)->font());
  QCOMPARE(FootyWidget(0)->tabStopDistance(), fm.horizontalAdvance(' ') * 8);
}

namespace {
int menuCalls = 0;
int menuId = -1;
void onMenu(int id, int, void* data) {
  ++menuCalls;
  menuId = id;
  *static_cast<int*>(data) += 1;
}
}  // namespace

void FootyTest::contextMenuHandlerGetsId() {
  int data = 0;
  QCOMPARE(FootyEventContextMenu(1, &onMenu, &data), FOOTY_OK);
  QPlainTextEdit* editor = FootyWidget(1);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), editor->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(editor->viewport(), &event);
  QCOMPARE(menuCalls, 1);
  QCOMPARE(menuId, 1);
  QCOMPARE(data, 1);
}

void FootyTest::deleteAndRedim() {
  QPointer<QPlainTextEdit> viewer = FootyWidget(0);
  QPointer<QPlainTextEdit> editor = FootyWidget(1);
  QCOMPARE(FootyDelete(0), FOOTY_OK);
  QVERIFY(viewer.isNull());
  QCOMPARE(FootySetText(0, "x"), FOOTY_ERR_ID);
  QCOMPARE(FootyRedim(1), FOOTY_OK);  // id 1 no longer has room
  QVERIFY(editor.isNull());
  QCOMPARE(FootyCreate(1, owner_.get(), 0, 0, 0, 0), FOOTY_ERR_ID);
  QCOMPARE(FootyCreate(0, owner_.get(), 0, 0, 0, 0), FOOTY_OK);
  QCOMPARE(FootyWidget(0)->objectName(), QString("Footy_0"));
}

QTEST_MAIN(FootyTest)
#include "tst_footy.moc"
