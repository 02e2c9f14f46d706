// The speech engine: notation to plain kana, rendering with espeak-ng, and the
// asynchronous playback queue.
#include "receive/speech.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <random>

#include "receive/notice.h"
#include "store/fsutil.h"

using namespace speech;

TEST(PhoneticToPlain, TagsMarksAndPauses) {
  EXPECT_EQ(fPhoneticToPlain(receive::fSpeechOneAccount(7, 3)),
            "アカウント7わ、3けん、じゅしんしました");
  EXPECT_EQ(fPhoneticToPlain(receive::fSpeechAllAccounts(receive::fSpeechFragment(1, 2) +
                                                         receive::fSpeechFragment(12, 10))),
            "アカウント1わ、2けん、アカウント12わ、10けん、じゅしんしました");
  EXPECT_EQ(fPhoneticToPlain(receive::fSpeechSenders("たなかさま、、")),
            "たなかさま、、から、めーるがとどきました");
  // Single spaces, other tags, junk attribute values, an unclosed tag.
  EXPECT_EQ(fPhoneticToPlain("<NUMK VAL=5 COUNTER=まい>と<ALPHA VAL=ABC><NUM VAL=1x2>"),
            "5まいと12");
  EXPECT_EQ(fPhoneticToPlain("あ<NUM VAL=3"), "あ");
  EXPECT_EQ(fPhoneticToPlain(""), "");
}

#ifdef QB_HAVE_ESPEAK

TEST(SpeechRender, ExampleSentenceGivesSecondsOfSound) {
  auto pcm = fRenderPcm(receive::fSpeechOneAccount(7, 3), 110);
  ASSERT_TRUE(pcm);
  ASSERT_GT(pcm->sampleRate, 8000);
  double seconds = double(pcm->samples.size()) / pcm->sampleRate;
  EXPECT_GT(seconds, 1.5);
  EXPECT_LT(seconds, 10.0);
  EXPECT_GT(fRms(pcm->samples), 500.0);
  // Sound throughout, not one blip: each third of the phrase carries voice.
  size_t third = pcm->samples.size() / 3;
  for (int part = 0; part < 3; ++part) {
    std::vector<int16_t> slice(pcm->samples.begin() + part * third,
                               pcm->samples.begin() + (part + 1) * third);
    EXPECT_GT(fRms(slice), 200.0) << "part " << part;
  }
  // A quicker speed gives a shorter phrase.
  auto fast = fRenderPcm(receive::fSpeechOneAccount(7, 3), 250);
  ASSERT_TRUE(fast);
  EXPECT_LT(fast->samples.size(), pcm->samples.size());

  auto wav = std::filesystem::temp_directory_path() /
             ("qb-speech-" + std::to_string(std::random_device{}()) + ".wav");
  ASSERT_TRUE(fWriteWav(wav, *pcm));
  auto bytes = fsutil::fReadFile(wav);
  std::filesystem::remove(wav);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 44 + pcm->samples.size() * 2);
  EXPECT_EQ(bytes->substr(0, 4), "RIFF");
  EXPECT_EQ(bytes->substr(8, 8), "WAVEfmt ");
}

TEST(SpeechEngine, PlaysQueuedTextsInOrderWithoutMakingTheCallerWait) {
  std::mutex m;
  std::vector<Pcm> played;
  std::promise<void> gate;
  std::shared_future<void> open = gate.get_future().share();
  std::promise<void> firstArrived;
  bool first = true;
  Handle h = AquesTalkDa_Create([&](const Pcm& pcm) {
    if (first) {
      first = false;
      firstArrived.set_value();
      open.wait();  // hold the engine inside the first text
    }
    std::lock_guard lock(m);
    played.push_back(pcm);
  });
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AquesTalkDa_Play(h, receive::fSpeechOneAccount(1, 1), 110), 0);
  firstArrived.get_future().wait();
  // The engine is busy with the first text, yet queuing more returns at once.
  EXPECT_EQ(AquesTalkDa_Play(h, "た'なかさま、、か'ら、めーるがとどきま'した", 110), 0);
  EXPECT_EQ(AquesTalkDa_Play(h, "あ", 110), 0);
  gate.set_value();
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard lock(m);
      if (played.size() == 3) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  AquesTalkDa_Release(h);
  ASSERT_EQ(played.size(), 3u);
  EXPECT_GT(played[1].samples.size(), played[2].samples.size());  // the long text second
  for (const auto& p : played) EXPECT_GT(fRms(p.samples), 300.0);
}

TEST(SpeechEngine, ReleaseDropsWhatIsQueued) {
  std::atomic<int> played{0};
  Handle h = AquesTalkDa_Create([&](const Pcm&) { ++played; });
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 20; ++i) AquesTalkDa_Play(h, receive::fSpeechOneAccount(i, i), 110);
  AquesTalkDa_Release(h);
  EXPECT_LT(played.load(), 20);
}

TEST(SpeechEngine, SoundDeviceFailuresAreIgnored) {
  // Here the system's audio output may be missing: playing must neither block nor fail.
  Handle h = AquesTalkDa_Create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(AquesTalkDa_Play(h, receive::fSpeechOneAccount(2, 5), 110), 0);
  EXPECT_EQ(AquesTalkDa_Play(h, "あ", 110), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  AquesTalkDa_Release(h);
}

#endif

TEST(SpeechEngine, NoHandleIsQuietlyIgnored) {
  EXPECT_EQ(AquesTalkDa_Play(nullptr, "あ", 110), 1);
  AquesTalkDa_Release(nullptr);
}
