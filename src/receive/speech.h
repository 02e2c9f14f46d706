#pragma once
// The speech engine: the phonetic kana notation of our notices (tags NUM and NUMK,
// accent marks, pauses) spoken with espeak-ng's Japanese voice. Playback runs on a
// thread of the engine; the caller never waits and ignores failures.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace speech {

// The notation as plain kana and digits: <NUM VAL=7> gives "7", <NUMK VAL=3
// COUNTER=けん> gives "3けん", other tags vanish, "'" is dropped and ";" becomes "、".
std::string fPhoneticToPlain(std::string_view phonetic);

struct Pcm {
  int sampleRate = 0;
  std::vector<int16_t> samples;  // mono, 16 bit
};

// Renders the phonetic text; nothing when the synthesiser cannot start or gives no sound.
// speed: 100 is the normal pace, 110 a little quicker.
std::optional<Pcm> fRenderPcm(std::string_view phonetic, int speed);
// A plain RIFF/WAVE file of the samples.
bool fWriteWav(const std::filesystem::path& path, const Pcm& pcm);
// Root mean square of the samples (0 for none).
double fRms(const std::vector<int16_t>& samples);

class Engine;
using Handle = Engine*;
// Where played speech goes; an empty sink means the system's audio output.
using PcmSink = std::function<void(const Pcm&)>;

// Starts the engine and its playback thread; nullptr when speech is not available.
Handle AquesTalkDa_Create(PcmSink sink = {});
// Queues the text and returns at once: 0 when queued, 1 without an engine. Texts that
// arrive while one is spoken follow it in order.
int AquesTalkDa_Play(Handle handle, std::string_view phonetic, int speed);
// Stops speaking, drops what is still queued, ends the thread and frees the engine.
void AquesTalkDa_Release(Handle handle);

}  // namespace speech
