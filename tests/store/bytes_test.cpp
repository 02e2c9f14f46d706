// Whole-file reads and the byte checks the readers lean on, at the edges of the word-
// at-a-time loops and of the read buffer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <thread>

#include "store/charset.h"
#include "store/fsutil.h"
#include "testutil.h"

namespace fs = std::filesystem;

TEST(ReadFile, DirectoriesAndMissingFilesGiveNothingEmptyFilesGiveEmpty) {
  TempDir t;
  EXPECT_FALSE(fsutil::fReadFile(t.path()));
  EXPECT_FALSE(fsutil::fReadFile(t / "missing"));
  writeBytes(t / "empty", "");
  ASSERT_TRUE(fsutil::fReadFile(t / "empty"));
  EXPECT_EQ(*fsutil::fReadFile(t / "empty"), "");
}

TEST(ReadFile, LargeFileByteForByte) {
  TempDir t;
  std::mt19937 random(7);
  std::string bytes(5 * 1024 * 1024 + 123, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  writeBytes(t / "big", bytes);
  auto got = fsutil::fReadFile(t / "big");
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), bytes.size());
  EXPECT_TRUE(*got == bytes);
}

TEST(ReadFile, FilesThatReportNoSizeAreReadToTheirEnd) {
  // /proc files report size 0.
  auto status = fsutil::fReadFile("/proc/self/status");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->rfind("Name:", 0), 0u);
  EXPECT_NE(status->find("\nThreads:"), std::string::npos);
  EXPECT_EQ(status->back(), '\n');

  // A pipe reports none either, and holds far more than one buffer's worth.
  TempDir t;
  const fs::path fifo = t / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string bytes;
  for (int i = 0; bytes.size() < 300000; ++i) bytes += "line " + std::to_string(i) + "\n";
  std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
  auto got = fsutil::fReadFile(fifo);
  writer.join();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->size(), bytes.size());
  EXPECT_TRUE(*got == bytes);
}

TEST(ByteChecks, HighByteAtEveryPositionAroundTheWords) {
  for (std::size_t length : {1u, 7u, 8u, 9u, 31u, 32u, 33u, 63u, 64u, 65u, 71u, 100u}) {
    const std::string ascii(length, 'a');
    EXPECT_TRUE(charset::fIsAscii(ascii)) << length;
    EXPECT_TRUE(charset::fIsValidUtf8(ascii)) << length;
    for (std::size_t k = 0; k < length; ++k) {
      for (unsigned char high : {0x80, 0xC3, 0xFF}) {
        std::string s = ascii;
        s[k] = static_cast<char>(high);
        EXPECT_FALSE(charset::fIsAscii(s)) << "length " << length << " at " << k;
        // A lone high byte is never well-formed UTF-8.
        EXPECT_FALSE(charset::fIsValidUtf8(s)) << "length " << length << " at " << k;
      }
    }
  }
  // A view inside a longer buffer: bytes beyond its end do not count.
  const std::string buffer = std::string(40, 'a') + "\xC3";
  EXPECT_TRUE(charset::fIsAscii(std::string_view(buffer).substr(0, 40)));
  EXPECT_TRUE(charset::fIsValidUtf8(std::string_view(buffer).substr(0, 40)));
  EXPECT_TRUE(charset::fIsAscii(std::string_view(buffer).substr(1, 39)));
  EXPECT_TRUE(charset::fIsAscii(""));
  EXPECT_TRUE(charset::fIsValidUtf8(""));
}

TEST(ByteChecks, Utf8SequencesRightAfterAsciiRuns) {
  const std::vector<std::string> good = {"\xC3\xA9", "\xE3\x81\x82", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD",
                                         "\xF4\x8F\xBF\xBF"};
  const std::vector<std::string> bad = {
      "\xC0\x80",          "\xC1\xBF",          "\xE0\x80\x80",     "\xE0\x9F\xBF",  // overlong
      "\xF0\x80\x80\x80",  "\xF0\x8F\xBF\xBF",                                     // overlong
      "\xED\xA0\x80",      "\xED\xBF\xBF",                                         // surrogates
      "\xF4\x90\x80\x80",  "\xF5\x80\x80\x80",                                     // beyond U+10FFFF
      "\xC3",              "\xE3\x81",          "\xF0\x9F\x98",                    // truncated
      "\xE3\x41\x82",      "\xC3\xC3",          "\x80",             "\xBF"};       // broken
  for (std::size_t before = 0; before <= 70; ++before) {
    for (std::size_t after : {0u, 1u, 8u, 40u}) {
      const std::string lead(before, 'x'), tail(after, 'y');
      for (const auto& seq : good) {
        EXPECT_TRUE(charset::fIsValidUtf8(lead + seq + tail)) << before << "+" << after;
        EXPECT_FALSE(charset::fIsAscii(lead + seq + tail)) << before << "+" << after;
      }
      for (const auto& seq : bad) {
        EXPECT_FALSE(charset::fIsValidUtf8(lead + seq + tail)) << before << "+" << after << " " << seq.size();
      }
      // A sequence cut by the end of the text right after a run of ASCII.
      for (const auto& seq : good)
        for (std::size_t cut = 1; cut < seq.size(); ++cut)
          EXPECT_FALSE(charset::fIsValidUtf8(lead + seq.substr(0, cut))) << before << " cut " << cut;
    }
  }
}
