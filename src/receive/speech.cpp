#include "receive/speech.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "store/fsutil.h"

#ifdef QB_HAVE_ESPEAK
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#endif

namespace speech {

double fRms(const std::vector<int16_t>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (int16_t s : samples) sum += double(s) * s;
  return std::sqrt(sum / samples.size());
}

bool fWriteWav(const std::filesystem::path& path, const Pcm& pcm) {
  auto put = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  uint32_t dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
  std::string out = "RIFF";
  put(out, 36 + dataBytes, 4);
  out += "WAVEfmt ";
  put(out, 16, 4);
  put(out, 1, 2);  // PCM
  put(out, 1, 2);  // mono
  put(out, static_cast<uint32_t>(pcm.sampleRate), 4);
  put(out, static_cast<uint32_t>(pcm.sampleRate) * 2, 4);
  put(out, 2, 2);
  put(out, 16, 2);
  out += "data";
  put(out, dataBytes, 4);
  for (int16_t s : pcm.samples) put(out, static_cast<uint16_t>(s), 2);
  return fsutil::fWriteFileAtomic(path, out);
}

#ifdef QB_HAVE_ESPEAK
namespace {

// espeak-ng is one synthesiser per process: every use goes through this lock.
std::mutex& espeakLock() {
  static std::mutex m;
  return m;
}

// Set while a synthesis runs (under the lock): where samples go, and when to give up.
Pcm* g_collect = nullptr;
const std::atomic<bool>* g_abort = nullptr;

int synthCallback(short* wav, int count, espeak_EVENT*) {
  if (g_collect && wav && count > 0)
    g_collect->samples.insert(g_collect->samples.end(), wav, wav + count);
  return g_abort && g_abort->load() ? 1 : 0;
}

// Starts espeak-ng with the Japanese voice once; false when it cannot.
bool ready() {
  static bool ok = [] {
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    if (espeak_ng_Initialize(&context) != ENS_OK) {
      espeak_ng_ClearErrorContext(&context);
      return false;
    }
    if (espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr) != ENS_OK) return false;
    espeak_SetSynthCallback(synthCallback);
    return espeak_ng_SetVoiceByName("ja") == ENS_OK;
  }();
  return ok;
}

int rateFor(int speed) {
  return std::clamp(espeakRATE_NORMAL * std::max(speed, 1) / 100, espeakRATE_MINIMUM,
                    espeakRATE_MAXIMUM);
}

// Synthesises under the lock, either into `collect` or to the audio device.
bool synthesize(const std::string& plain, int speed, Pcm* collect, bool toAudio,
                const std::atomic<bool>* abort) {
  std::lock_guard lock(espeakLock());
  if (!ready()) return false;
  auto mode = toAudio ? espeak_ng_OUTPUT_MODE(ENOUTPUT_MODE_SYNCHRONOUS | ENOUTPUT_MODE_SPEAK_AUDIO)
                      : ENOUTPUT_MODE_SYNCHRONOUS;
  if (espeak_ng_InitializeOutput(mode, 0, nullptr) != ENS_OK) return false;
  espeak_ng_SetParameter(espeakRATE, rateFor(speed), 0);
  if (collect) collect->sampleRate = espeak_ng_GetSampleRate();
  g_collect = collect;
  g_abort = abort;
  espeak_ng_STATUS status = espeak_ng_Synthesize(plain.c_str(), plain.size() + 1, 0, POS_CHARACTER,
                                                 0, espeakCHARS_UTF8, nullptr, nullptr);
  g_collect = nullptr;
  g_abort = nullptr;
  return status == ENS_OK;
}

}  // namespace

std::optional<Pcm> fRenderPcm(std::string_view phonetic, int speed) {
  Pcm pcm;
  if (!synthesize(fPhoneticToPlain(phonetic), speed, &pcm, false, nullptr) || pcm.samples.empty())
    return std::nullopt;
  return pcm;
}

class Engine {
 public:
  explicit Engine(PcmSink sink) : sink_(std::move(sink)), thread_([this] { run(); }) {}
  ~Engine() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
      queue_.clear();
    }
    cv_.notify_all();
    thread_.join();
  }
  void sQueue(std::string plain, int speed) {
    {
      std::lock_guard lock(m_);
      queue_.emplace_back(std::move(plain), speed);
    }
    cv_.notify_all();
  }

 private:
  void run() {
    while (true) {
      std::pair<std::string, int> item;
      {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        item = std::move(queue_.front());
        queue_.pop_front();
      }
      speak(item.first, item.second);
    }
  }
  void speak(const std::string& plain, int speed) {
    if (sink_) {
      Pcm pcm;
      if (synthesize(plain, speed, &pcm, false, &stop_) && !pcm.samples.empty() && !stop_)
        sink_(pcm);
      return;
    }
    // A machine without a sound device says so once; later texts are dropped quietly.
    if (audioFailed_) return;
    if (!synthesize(plain, speed, nullptr, true, &stop_)) audioFailed_ = true;
  }

  PcmSink sink_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::pair<std::string, int>> queue_;
  std::atomic<bool> stop_{false};
  bool audioFailed_ = false;
  std::thread thread_;  // last: starts once everything above is ready
};

Handle AquesTalkDa_Create(PcmSink sink) {
  {
    std::lock_guard lock(espeakLock());
    if (!ready()) return nullptr;
  }
  try {
    return new Engine(std::move(sink));
  } catch (const std::exception&) {
    return nullptr;
  }
}

int AquesTalkDa_Play(Handle handle, std::string_view phonetic, int speed) {
  if (!handle) return 1;
  try {
    handle->sQueue(fPhoneticToPlain(phonetic), speed);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}

void AquesTalkDa_Release(Handle handle) { delete handle; }

#else  // built without espeak-ng: speech is simply not available

std::optional<Pcm> fRenderPcm(std::string_view, int) { return std::nullopt; }
class Engine {};
Handle AquesTalkDa_Create(PcmSink) { return nullptr; }
int AquesTalkDa_Play(Handle, std::string_view, int) { return 1; }
void AquesTalkDa_Release(Handle) {}

#endif

}  // namespace speech
