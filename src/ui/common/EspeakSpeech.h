#pragma once
// The main window's speech engine over espeak-ng (receive/speech.h): texts are queued to
// the engine's own thread, so speaking never holds up the window. Without a working
// synthesiser or sound device every text is dropped quietly.
#include <string>

#include "ui/common/SpeechEngine.h"
#include "receive/speech.h"

class EspeakSpeech : public SpeechEngine {
 public:
  // The speed every notice is spoken at.
  static constexpr int kSpeed = 110;

  EspeakSpeech();
  ~EspeakSpeech() override;
  EspeakSpeech(const EspeakSpeech&) = delete;
  EspeakSpeech& operator=(const EspeakSpeech&) = delete;

  void sPlay(const std::string& phonetic) override;
  bool fAvailable() const { return handle_ != nullptr; }

 private:
  speech::Handle handle_ = nullptr;
};
