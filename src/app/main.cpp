#include <QApplication>

#include "app/Form1.h"
#include "app/HtmlView.h"

int main(int argc, char** argv) {
  HtmlView::sPrepareApplication();  // before the application object exists
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillbrook"));
  QApplication::setApplicationVersion(QStringLiteral(QB_VERSION));
  Form1 form;
  if (!form.fStarted()) return 0;  // another instance runs, or the start-up key was not held
  form.show();
  return app.exec();
}
