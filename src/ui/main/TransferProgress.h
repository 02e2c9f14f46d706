#pragma once
// Import and export run on a worker thread behind a progress dialog with a Cancel button;
// the window's event loop keeps running meanwhile.
#include <QString>
#include <filesystem>

#include "transfer/transfer.h"

class QWidget;

namespace transferui {

transfer::ImportResult fImportWithProgress(QWidget* parent, const std::filesystem::path& source,
                                           const std::filesystem::path& folder);
transfer::ExportResult fExportWithProgress(QWidget* parent, const std::filesystem::path& folder,
                                           const std::filesystem::path& target);
// The result in a line for the status bar or a message box.
QString fImportSummary(const transfer::ImportResult& result);

}  // namespace transferui
