// The one host session of the process and its login as a configuration
// utility.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qm {

struct Session {
  bool ServerConnected = false;
  bool ServerLoggedIn = false;
  std::string ServerMessage;  // the session's last message
  uint32_t ConnectError = 0;  // the host's code when the connect failed
  uint32_t LoginError = 0;    // the host's code when the last login failed
};

// The host home named by wcsrv.ini in programDir ([Server] Home=, relative
// to programDir unless absolute), else programDir's folder "host".
std::string FindHostHome(const std::string& programDir);

Session& TheSession();

bool ServerConnect(void* mainWindow);
bool ServerLogin(const std::string& password);
void ServerLogout();

// The name of a host error code, or "Unrecoginzed error.".
std::string WcErrorName(uint32_t code);

// The one line an unattended start prints when its login failed: the
// host, the reason as the sysop can act on it, and where it was logged
// (or that the log could not be written).
std::string LoginFailureLine(const std::string& home,
                             const std::string& logPath, bool logged);

// What the start-up login needs from the window system.
struct LoginPrompts {
  // Modal password prompt: title, prompt, value in and out; true on OK.
  std::function<bool(const std::string&, const std::string&, std::string&)>
      passwordQuery;
  std::function<void(const std::string&)> showMessage;  // plain box
  std::function<void(uint32_t)> showWcError;            // warning box
};

// The start-up login sequence: empty password first, then (interactive
// only) the prompt and its retries. True when logged in.
bool StartupLogin(void* mainWindow, bool automatic,
                  const LoginPrompts& prompts);

}  // namespace qm
