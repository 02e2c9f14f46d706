#pragma once
// The speech engine as the main window holds it: created once at start-up through the
// installed factory, released at shutdown. Without a factory nothing is spoken.
#include <functional>
#include <memory>
#include <string>

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  // Speaks a text in the phonetic notation of the speech texts; returns at once.
  virtual void sPlay(const std::string& phonetic) = 0;
};

using SpeechFactory = std::function<std::unique_ptr<SpeechEngine>()>;
