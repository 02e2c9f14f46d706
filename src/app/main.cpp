#include <QApplication>

#include "app/EspeakSpeech.h"
#include "app/Form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillbrook"));
  QApplication::setApplicationVersion(QStringLiteral(QB_VERSION));
  // New-mail notices are spoken through espeak-ng; without it the program stays silent.
  Form1::sSetSpeechFactory([] { return std::make_unique<EspeakSpeech>(); });
  Form1 form;
  if (!form.fStarted()) return 0;  // another instance runs, or the start-up key was not held
  form.show();
  return app.exec();
}
