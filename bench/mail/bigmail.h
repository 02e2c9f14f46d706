#pragma once
// Large mails for the reading benchmarks, written straight to disk in pieces (a mail of
// 500 MB is never held in memory): a short text part and base64 attachments of
// reproducible pseudo-random bytes, or one huge text part.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace bigmail {

// Reproducible bytes of an attachment (xorshift), `size` of them from the start.
inline void fillBytes(std::uint64_t& state, std::string& out, size_t size) {
  out.resize(size);
  for (size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    out[i] = static_cast<char>(state >> 24);
  }
}

inline void base64Lines(std::FILE* f, std::string_view in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(in.size() / 57 * 78 + 80);
  for (size_t line = 0; line < in.size(); line += 57) {
    size_t end = std::min(in.size(), line + 57);
    size_t i = line;
    for (; i + 2 < end; i += 3) {
      unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                   static_cast<unsigned char>(in[i + 2]);
      for (int k = 3; k >= 0; --k) out += a[(v >> (6 * k)) & 63];
    }
    if (i < end) {
      unsigned v = static_cast<unsigned char>(in[i]) << 16;
      if (i + 1 < end) v |= static_cast<unsigned char>(in[i + 1]) << 8;
      out += a[(v >> 18) & 63];
      out += a[(v >> 12) & 63];
      out += i + 1 < end ? a[(v >> 6) & 63] : '=';
      out += '=';
    }
    out += "\r\n";
  }
  std::fwrite(out.data(), 1, out.size(), f);
}

struct Attachment {
  std::string header;  // Content-Type and Content-Disposition lines
  size_t size;         // decoded bytes
  std::uint64_t seed;
};

// The decoded bytes of an attachment, as the mail carries them.
inline std::string attachmentBytes(const Attachment& a) {
  std::uint64_t state = a.seed;
  std::string out;
  fillBytes(state, out, a.size);
  return out;
}

inline const char* kBoundary = "=_big_mail_boundary_0001";

inline std::string headerBlock(const std::string& subject, const std::string& contentType) {
  return "Received: from mx.example.jp (mx.example.jp [192.0.2.1])\r\n\tby mail.example.net; Tue, 2 Jan 2024 "
         "10:00:00 +0900\r\nFrom: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro@example.jp>\r\nTo: user@example.net\r\n"
         "Subject: " + subject + "\r\nDate: Tue, 2 Jan 2024 10:00:00 +0900\r\nMessage-ID: <big@example.jp>\r\n"
         "MIME-Version: 1.0\r\nContent-Type: " + contentType + "\r\n\r\n";
}

// A multipart mail: a text part, then the attachments in order.
inline bool writeAttachmentMail(const std::filesystem::path& file, const std::string& text,
                                const std::vector<Attachment>& attachments) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  std::string head = headerBlock("big attachments", std::string("multipart/mixed; boundary=\"") + kBoundary + "\"") +
                     "This is a multi-part message in MIME format.\r\n\r\n--" + kBoundary +
                     "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + text +
                     "\r\n";
  std::fwrite(head.data(), 1, head.size(), f);
  constexpr size_t kChunk = 57 * 65536;  // whole base64 lines per chunk
  std::string chunk;
  for (const Attachment& a : attachments) {
    std::string partHead = std::string("--") + kBoundary + "\r\n" + a.header + "Content-Transfer-Encoding: base64\r\n\r\n";
    std::fwrite(partHead.data(), 1, partHead.size(), f);
    std::uint64_t state = a.seed;
    for (size_t done = 0; done < a.size; done += kChunk) {
      fillBytes(state, chunk, std::min(kChunk, a.size - done));
      base64Lines(f, chunk);
    }
  }
  std::string tail = std::string("--") + kBoundary + "--\r\n";
  std::fwrite(tail.data(), 1, tail.size(), f);
  return std::fclose(f) == 0;
}

// The mail's attachments for a mail of about `totalMb`: one large one and a smaller one.
inline std::vector<Attachment> attachmentsFor(size_t totalMb) {
  const size_t mb = 1024 * 1024;
  // base64 with CR LF every 76 characters takes 1.37 bytes per byte.
  size_t big = totalMb * mb * 100 / 137 * 96 / 100;
  size_t small = totalMb * mb * 100 / 137 - big;
  return {{"Content-Type: application/octet-stream; name=\"=?UTF-8?B?6LOH5paZLmJpbg==?=\"\r\n"
           "Content-Disposition: attachment; filename*=UTF-8''%E8%B3%87%E6%96%99.bin\r\n",
           big, 0x9E3779B97F4A7C15ull},
          {"Content-Type: application/pdf; name=\"report.pdf\"\r\nContent-Disposition: attachment; "
           "filename=\"report.pdf\"\r\n",
           small, 0xD1B54A32D192ED03ull}};
}

// The text of the mail's text part: Japanese lines up to about `bytes`.
inline std::string japaneseText(size_t bytes) {
  const std::string line = "お世話になっております。資料を添付しますのでご確認ください。大きなファイルです。\r\n";
  std::string text;
  text.reserve(bytes + line.size());
  while (text.size() < bytes) text += line;
  return text;
}

// A single-part mail whose text is `textMb` of Japanese lines (UTF-8, 8 bit).
inline bool writeHugeTextMail(const std::filesystem::path& file, size_t textMb) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return false;
  std::string head = headerBlock("huge text", "text/plain; charset=UTF-8") ;
  std::fwrite(head.data(), 1, head.size(), f);
  const std::string block = japaneseText(1024 * 1024);
  for (size_t i = 0; i < textMb; ++i) std::fwrite(block.data(), 1, block.size(), f);
  return std::fclose(f) == 0;
}

}  // namespace bigmail
