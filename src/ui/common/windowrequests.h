#pragma once
// What one window hands another when it opens it. Windows never include each other's
// headers for this: the main window fills these in from what the user sees, and each
// window takes only what it is given.
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>

class QLineEdit;
class QWidget;

// The composer's fields that picked recipients are appended to.
struct RecipientFields {
  QLineEdit* to = nullptr;
  QLineEdit* cc = nullptr;
  QLineEdit* bcc = nullptr;
};

// What the address book is opened for: editing the books, editing them with the fields
// filled from a mail's sender, or picking recipients for the composer.
enum class AddressMode { Edit, Address, Pick };
struct AddressRequest {
  AddressMode mode = AddressMode::Edit;
  std::filesystem::path settingsPath;  // setting.ini, which holds the books
  QWidget* owner = nullptr;            // the window it belongs to (the main window)
  QWidget* composer = nullptr;         // Pick: the composer it is modal over
  RecipientFields recipients;          // Pick: the fields OK appends to
  QString sender;                      // Address: the mail's sender, "name <address>"
};

// What the composer is opened to write.
struct ComposeRequest {
  std::filesystem::path accountFolder;  // the account the mail is written for
  QString accountName;                  // shown in the caption
  std::filesystem::path settingsPath;   // setting.ini: fixed phrases, address books
  std::filesystem::path logFile;        // the sending log
  // A reply to the mail the user sees: the sender's address, its subject (without "Re: "),
  // its text as shown (quoted into the body) and its file (for the thread's headers).
  struct Reply {
    QString to, subject, text;
    std::filesystem::path mail;
  };
  std::optional<Reply> reply;
  // A stored draft or pending mail to edit: storing replaces it, sending removes it.
  std::filesystem::path stored;
  // Opens the address book to pick recipients into the composer's fields.
  std::function<void(QWidget* composer, RecipientFields fields)> pickRecipients;
};

