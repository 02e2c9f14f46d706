#include <QApplication>

#include "ui/common/EspeakSpeech.h"
#include "ui/common/dialogparts.h"
#include "ui/main/Form1.h"
#include "ui/main/HtmlView.h"

#if defined(__SANITIZE_ADDRESS__)
// The web engine's own code frees some objects through a base of another size, which
// AddressSanitizer reports as a new/delete size mismatch inside the engine library and
// aborts on. That library is not ours and is not instrumented; every other check stays.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

int main(int argc, char** argv) {
  HtmlView::sPrepareApplication();  // before the application object exists
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillbrook"));
  QApplication::setApplicationVersion(QStringLiteral(QB_VERSION));
  dialogparts::sUseJapaneseQtTexts(&app);
  // New-mail notices are spoken through espeak-ng; without it the program stays silent.
  Form1::sSetSpeechFactory([] { return std::make_unique<EspeakSpeech>(); });
  Form1 form;
  if (!form.fStarted()) return 0;  // another instance runs, or the start-up key was not held
  form.show();
  return app.exec();
}
