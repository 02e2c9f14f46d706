#include "ui/main/TransferProgress.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <thread>

namespace transferui {
namespace {

// Runs `work` (given a progress callback) on a thread while a progress dialog shows how
// far it got; Cancel makes the callback answer false.
template <class Result, class Work>
Result withProgress(QWidget* parent, const QString& label, Work work) {
  std::atomic<std::uint64_t> done{0}, total{0};
  std::atomic<bool> cancel{false}, finished{false};
  Result result;
  QProgressDialog dialog(label, QStringLiteral("キャンセル"), 0, 1000, parent);
  dialog.setObjectName(QStringLiteral("transferProgress"));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(300);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);
  QObject::connect(&dialog, &QProgressDialog::canceled, [&] { cancel = true; });
  std::thread worker([&] {
    result = work([&](std::uint64_t d, std::uint64_t t) {
      done = d;
      total = t;
      return !cancel.load();
    });
    finished = true;
  });
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const std::uint64_t t = total.load();
    if (t > 0) dialog.setValue(static_cast<int>(std::min<std::uint64_t>(1000, done.load() * 1000 / t)));
    if (finished) loop.quit();
  });
  tick.start(50);
  loop.exec();
  worker.join();
  return result;
}

}  // namespace

transfer::ImportResult fImportWithProgress(QWidget* parent, const std::filesystem::path& source,
                                           const std::filesystem::path& folder) {
  return withProgress<transfer::ImportResult>(parent, QStringLiteral("メールを取り込んでいます..."),
                                              [&](const transfer::Progress& p) { return transfer::fImport(source, folder, p); });
}

transfer::ExportResult fExportWithProgress(QWidget* parent, const std::filesystem::path& folder,
                                           const std::filesystem::path& target) {
  return withProgress<transfer::ExportResult>(parent, QStringLiteral("メールを書き出しています..."),
                                              [&](const transfer::Progress& p) { return transfer::fExport(folder, target, p); });
}

QString fImportSummary(const transfer::ImportResult& r) {
  QString text = QStringLiteral("%1件取り込みました").arg(r.stored);
  if (r.duplicates) text += QStringLiteral(" (取り込み済みの %1件は除きました)").arg(r.duplicates);
  if (r.cancelled) text += QStringLiteral("。途中で中止しました");
  if (r.truncated) text += QStringLiteral("。最後のメールは途中で切れていたため取り込んでいません");
  if (!r.error.empty()) text += QStringLiteral("。") + QString::fromStdString(r.error);
  return text;
}

}  // namespace transferui
