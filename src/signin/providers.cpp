#include "signin/providers.h"

#include "store/text.h"

namespace signin {

const std::vector<Provider>& fProviders() {
  static const std::vector<Provider> providers = {
      {"google",
       "Google (Gmail)",
       {"gmail.com", "googlemail.com"},
       "https://accounts.google.com/o/oauth2/v2/auth",
       "https://oauth2.googleapis.com/token",
       "https://mail.google.com/",
       "pop.gmail.com",
       "995",
       "smtp.gmail.com",
       "465",
       "Google Cloud コンソールの「API とサービス」→「認証情報」で、種類「デスクトップ アプリ」の "
       "OAuth クライアント ID"},
      {"microsoft",
       "Microsoft (Outlook.com)",
       {"outlook.com", "outlook.jp", "hotmail.com", "hotmail.co.jp", "live.com", "live.jp",
        "msn.com"},
       "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
       "https://login.microsoftonline.com/common/oauth2/v2.0/token",
       "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/SMTP.Send "
       "offline_access",
       "outlook.office365.com",
       "995",
       "smtp.office365.com",
       "587",
       "Microsoft Entra 管理センターの「アプリの登録」で、リダイレクト "
       "URI「http://localhost」の公開クライアント"},
  };
  return providers;
}

const Provider* fProviderForAddress(std::string_view address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) return nullptr;
  const std::string domain = text::lower(text::trim(address.substr(at + 1), text::kWhiteSpace));
  for (const auto& p : fProviders())
    for (const auto& d : p.domains)
      if (d == domain) return &p;
  return nullptr;
}

const Provider* fFindProvider(std::string_view id) {
  for (const auto& p : fProviders())
    if (p.id == id) return &p;
  return nullptr;
}

}  // namespace signin
