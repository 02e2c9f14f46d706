// Reading big mails through `quillbrook-mail read`, each run a child process so its peak
// memory is its own: a mail of about 85 MB (a 60 MB attachment, base64) and one of about
// 500 MB, with the attachments saved, as the preview reads it (names only) and headers
// only. Prints wall time (median of the runs) and peak resident memory (the largest).
// Usage: bench_mail_read_big [work-dir [runs]]  (the mails are made there once and reused)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <vector>

#include "bigmail.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  double seconds = -1;
  long peakKb = -1;
};

Run runRead(const fs::path& mailFile, const std::string& keys, const fs::path& folder) {
  const std::string cli = QB_MAIL_CLI;
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execl(cli.c_str(), cli.c_str(), "read", mailFile.c_str(), keys.c_str(), folder.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {std::chrono::duration<double>(Clock::now() - t0).count(), usage.ru_maxrss};
}

// True when every attachment was saved with the bytes the mail carries.
bool savedRight(const fs::path& folder, const std::vector<bigmail::Attachment>& attachments) {
  const char* names[] = {"資料.bin", "report.pdf"};
  for (size_t i = 0; i < attachments.size(); ++i) {
    fs::path file = folder / names[i];
    std::error_code ec;
    if (fs::file_size(file, ec) != attachments[i].size || ec) return false;
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return false;
    std::string expected = bigmail::attachmentBytes(attachments[i]);
    std::string got(expected.size(), '\0');
    size_t n = std::fread(got.data(), 1, got.size(), f);
    std::fclose(f);
    if (n != got.size() || got != expected) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb_bench_read_big";
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  fs::create_directories(dir);
  const std::string text = bigmail::japaneseText(4000);
  for (size_t mb : {85, 500}) {
    const fs::path mailFile = dir / ("big" + std::to_string(mb) + ".eml");
    const auto attachments = bigmail::attachmentsFor(mb);
    if (!fs::exists(mailFile) && !bigmail::writeAttachmentMail(mailFile, text, attachments)) {
      std::fprintf(stderr, "cannot write %s\n", mailFile.c_str());
      return 1;
    }
    const double mailMb = static_cast<double>(fs::file_size(mailFile)) / (1024 * 1024);
    std::printf("mail of %.1f MB (attachments %.1f MB and %.1f MB)\n", mailMb,
                static_cast<double>(attachments[0].size) / (1024 * 1024),
                static_cast<double>(attachments[1].size) / (1024 * 1024));
    const struct {
      const char* what;
      const char* keys;
    } modes[] = {{"attachments saved", "subject:from:"},
                 {"preview (names only)", "to:from:nofile:"},
                 {"headers only", "nofile:nobody:"}};
    for (const auto& mode : modes) {
      std::vector<double> times;
      long peak = 0;
      bool ok = true;
      for (int r = 0; r < runs; ++r) {
        const fs::path folder = dir / "out";
        fs::remove_all(folder);
        fs::create_directories(folder);
        Run run = runRead(mailFile, mode.keys, folder);
        if (run.seconds < 0) {
          ok = false;
          break;
        }
        if (r == 0 && std::string(mode.keys) == "subject:from:" && !savedRight(folder, attachments)) {
          std::printf("  %s: attachments NOT saved right\n", mode.what);
        }
        times.push_back(run.seconds);
        peak = std::max(peak, run.peakKb);
      }
      if (!ok) {
        std::printf("  %s: the read failed\n", mode.what);
        continue;
      }
      std::sort(times.begin(), times.end());
      std::printf("  %-22s %7.3f s  peak RSS %7.1f MB (%.2fx the mail)\n", mode.what, times[times.size() / 2],
                  static_cast<double>(peak) / 1024, static_cast<double>(peak) / 1024 / mailMb);
    }
    fs::remove_all(dir / "out");
  }
  return 0;
}
