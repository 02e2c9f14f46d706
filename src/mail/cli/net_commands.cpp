// The network commands of quillbrook-mail: receive and send, each printing the mail
// library's result as JSON on one line.
//   receive SERVER USER PASS COMMAND INBOX   (SERVER "host" or "host:port"; COMMAND
//                                             SAVEALL, SAVEALLD, "SAVE 1-n", "SAVD 1-n")
//   send LOG SERVER RECIPIENTS SENDER SUBJECT BODY ATTACHMENTS [USER PASS]
// The password may be given as "-" to read it from the QB_MAIL_PASS variable, so it
// need not appear in a process list. QB_MAIL_CA names an extra CA file. With
// QB_MAIL_OAUTH2_TOKEN set, both sign in as USER with that OAuth 2.0 access token
// (OAUTHBEARER or XOAUTH2, over TLS only) and PASS is ignored.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command.h"
#include "mail/json.h"
#include "mail/mail.h"

namespace {

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string password(const std::string& arg) {
  if (arg != "-") return arg;
  const char* env = std::getenv("QB_MAIL_PASS");
  return env ? env : "";
}

void applyEnvironment() {
  if (const char* ca = std::getenv("QB_MAIL_CA")) {
    mail::LibrarySettings s = mail::fGetLibrarySettings();
    s.caFile = ca;
    mail::sSetLibrarySettings(s);
  }
}

// The POP3 server as the library takes it: "host" TAB "port".
std::string popServer(const std::string& arg) {
  std::string s = arg;
  if (s.find('\t') == std::string::npos && s.find(']') == std::string::npos) {
    auto colon = s.rfind(':');
    if (colon != std::string::npos && s.find(':') == colon) s[colon] = '\t';
  }
  return s;
}

// The access token of QB_MAIL_OAUTH2_TOKEN, empty when unset.
std::string accessToken() {
  const char* env = std::getenv("QB_MAIL_OAUTH2_TOKEN");
  return env ? env : "";
}

int runReceiveArgs(const std::vector<std::string>& args) {
  if (args.size() != 5) {
    std::fprintf(stderr, "usage: quillbrook-mail receive SERVER USER PASS COMMAND INBOX\n");
    return qbmail::kUsageError;
  }
  applyEnvironment();
  mail::BearerToken token(accessToken());
  printLine(mail::json::fResult(
      mail::RcvMail(popServer(args[0]), args[1], password(args[2]), args[3], "<" + args[4])));
  return 0;
}

int runSendArgs(const std::vector<std::string>& args) {
  if (args.size() != 7 && args.size() != 9) {
    std::fprintf(stderr,
                 "usage: quillbrook-mail send LOG SERVER RECIPIENTS SENDER SUBJECT BODY "
                 "ATTACHMENTS [USER PASS]\n");
    return qbmail::kUsageError;
  }
  applyEnvironment();
  mail::BearerToken token(accessToken());
  mail::SendStatus result =
      args.size() == 9
          ? mail::SendMailEx(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7],
                             password(args[8]))
          : mail::SendMailEx(args[0], args[1], args[2], args[3], args[4], args[5], args[6]);
  printLine(mail::json::fString(result.text));
  return result.sent ? 0 : 1;
}

const qbmail::CommandRegistration receiveCommand(
    {"receive", "SERVER USER PASS COMMAND INBOX", runReceiveArgs});
const qbmail::CommandRegistration sendCommand(
    {"send", "LOG SERVER RECIPIENTS SENDER SUBJECT BODY ATTACHMENTS [USER PASS]", runSendArgs});

}  // namespace

// The same commands for a caller with a C argument list (argv[0] is the command name).
int runReceive(int argc, char** argv) {
  return runReceiveArgs(std::vector<std::string>(argv + (argc > 0), argv + argc));
}
int runSend(int argc, char** argv) {
  return runSendArgs(std::vector<std::string>(argv + (argc > 0), argv + argc));
}
