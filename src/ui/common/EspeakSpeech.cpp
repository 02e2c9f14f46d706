#include "ui/common/EspeakSpeech.h"

EspeakSpeech::EspeakSpeech() : handle_(speech::AquesTalkDa_Create()) {}

EspeakSpeech::~EspeakSpeech() { speech::AquesTalkDa_Release(handle_); }

void EspeakSpeech::sPlay(const std::string& phonetic) {
  // A text that cannot be spoken is simply not heard; the receive run goes on.
  (void)speech::AquesTalkDa_Play(handle_, phonetic, kSpeed);
}
