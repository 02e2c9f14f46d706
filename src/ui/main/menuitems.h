#pragma once
// The positions of the main window's menu items that the code addresses. A position is
// part of the item's name ("mnuFileItem_6"); the gaps are positions the menus keep free.
namespace menuitem {
namespace file {
constexpr int kNewMail = 0, kReceive = 1, kReceiveAll = 2, kSendPending = 3, kAddAccount = 6,
              kDeleteAccount = 7, kAccountSettings = 8, kNewFolder = 10, kDeleteFolder = 11,
              kEmptyTrash = 13, kLastSeparator = 19, kExit = 20;
}
namespace edit {
constexpr int kCut = 0, kCopy = 1, kPaste = 2, kUndo = 7, kRedo = 8, kSelectAll = 10, kShowHtml = 13,
              kShowEuc = 14;
}
namespace settings {
constexpr int kMailer = 0, kAddressBook = 4, kPhrases = 5;
}
namespace help {
constexpr int kReadMe = 0, kAbout = 1, kOnlineHelp = 3, kHomePage = 4, kUpdate = 6;
}
namespace list {
constexpr int kReply = 0, kDelete = 4, kAddToAddressBook = 6, kShowHtml = 7, kShowEuc = 8, kSelectAll = 10;
}
namespace attach {
constexpr int kOpen = 0, kSave = 1;
}
}  // namespace menuitem
