#include "server/Session.h"

#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "server/WcApi.h"

namespace qm {

namespace {

// What a failed connect or login adds to its message when the host says
// why in a way the sysop can act on.
std::string Reason(uint32_t code) {
  if (code == WC_DATABASE_LOCKED)
    return " The host database is locked by another program.";
  return code == WC_ACCESS_DENIED ? " The host database cannot be written."
                                  : "";
}

}  // namespace

std::string FindHostHome(const std::string& programDir) {
  std::vector<std::string> lines;
  std::string home;
  if (ReadTextLines(TrailingBackslash(programDir) + "wcsrv.ini", lines)) {
    bool inServer = false;
    for (const auto& raw : lines) {
      std::string line = Trim(raw);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        size_t close = line.find(']');
        inServer = close != std::string::npos &&
                   EqualsNoCase(Trim(line.substr(1, close - 1)), "Server");
        continue;
      }
      size_t eq = line.find('=');
      if (inServer && eq != std::string::npos &&
          EqualsNoCase(Trim(line.substr(0, eq)), "Home")) {
        home = Trim(line.substr(eq + 1));
        break;
      }
    }
  }
  return ResolveAgainst(programDir, home.empty() ? "host" : home);
}

Session& TheSession() {
  static Session session;
  return session;
}

bool ServerConnect(void* mainWindow) {
  Session& s = TheSession();
  if (s.ServerConnected || s.ServerLoggedIn) {
    s.ServerMessage = "Already logged in.";
    return false;
  }
  s.ConnectError = 0;
  s.ServerConnected = WildcatServerConnect(mainWindow) != 0;
  if (!s.ServerConnected) {
    s.ConnectError = WcGetLastError();
    s.ServerMessage =
        "Failed to create Server Context." + Reason(s.ConnectError);
    return false;
  }
  // A context that could not be created shows up at login.
  s.ServerConnected = WildcatServerCreateContext() != 0;
  if (!s.ServerConnected) s.ConnectError = WcGetLastError();
  return true;
}

bool ServerLogin(const std::string& password) {
  Session& s = TheSession();
  if (s.ServerLoggedIn) {
    s.ServerMessage = "Already logged in.";
    return false;
  }
  if (!s.ServerConnected) {
    s.ServerMessage = "Server Context Not Created." + Reason(s.ConnectError);
    return false;
  }
  s.LoginError = 0;
  s.ServerLoggedIn = MwLogin(password.c_str()) != 0;
  if (!s.ServerLoggedIn) {
    s.LoginError = WcGetLastError();
    s.ServerMessage =
        "Failed to Login to Wildcat Server!" + Reason(s.LoginError);
    return false;
  }
  return true;
}

void ServerLogout() {
  Session& s = TheSession();
  if (!s.ServerConnected) return;
  if (s.ServerLoggedIn && !LogoutUser()) {
    s.ServerMessage = "Failed to Logout off System!";
  }
  if (!WildcatServerDeleteContext()) {
    s.ServerMessage = "Failed to Delete Context!";
  }
}

std::string WcErrorName(uint32_t code) {
  switch (code) {
    case WC_UNSUPPORTED_VERSION:
      return "WC_UNSUPPORTED_VERSION";
    case WC_CONTEXT_NOT_INITIALIZED:
      return "WC_CONTEXT_NOT_INITIALIZED";
    case WC_INVALID_NODE_NUMBER:
      return "WC_INVALID_NODE_NUMBER";
    case WC_USER_NOT_FOUND:
      return "WC_USER_NOT_FOUND";
    case WC_INCORRECT_PASSWORD:
      return "WC_INCORRECT_PASSWORD";
    case WC_USER_NOT_LOGGED_IN:
      return "WC_USER_NOT_LOGGED_IN";
    case WC_INVALID_INDEX:
      return "WC_INVALID_INDEX";
    case WC_INVALID_OBJECT_ID:
      return "WC_INVALID_OBJECT_ID";
    case WC_GROUP_ALREADY_EXISTS:
      return "WC_GROUP_ALREADY_EXISTS";
    case WC_GROUP_NOT_FOUND:
      return "WC_GROUP_NOT_FOUND";
    case WC_OBJECTID_ALREADY_EXISTS:
      return "WC_OBJECTID_ALREADY_EXISTS";
    case WC_NAME_NOT_FOUND:
      return "WC_NAME_NOT_FOUND";
    case WC_NAME_ALREADY_EXISTS:
      return "WC_NAME_ALREADY_EXISTS";
    case WC_ALREADY_LOGGED_IN:
      return "WC_ALREADY_LOGGED_IN";
    case WC_ITEM_NOT_FOUND:
      return "WC_ITEM_NOT_FOUND";
    case WC_ITEM_REQUIRES_NAME:
      return "WC_ITEM_REQUIRES_NAME";
    case WC_ITEM_ALREADY_EXISTS:
      return "WC_ITEM_ALREADY_EXISTS";
    case WC_ITEM_NAME_DIFFERENT:
      return "WC_ITEM_NAME_DIFFERENT";
    case WC_RECORD_NOT_FOUND:
      return "WC_RECORD_NOT_FOUND";
    case WC_ACCESS_DENIED:
      return "WC_ACCESS_DENIED";
    case WC_NODE_ALREADY_IN_USE:
      return "WC_NODE_ALREADY_IN_USE";
    case WC_USER_ALREADY_LOGGED_IN:
      return "WC_USER_ALREADY_LOGGED_IN";
    case WC_INVALID_CONNECTION_ID:
      return "WC_INVALID_CONNECTION_ID";
    case WC_INVALID_CONFERENCE:
      return "WC_INVALID_CONFERENCE";
    case WC_INVALID_CONFERENCEGROUP:
      return "WC_INVALID_CONFERENCEGROUP";
    case WC_INVALID_FILEAREA:
      return "WC_INVALID_FILEAREA";
    case WC_INVALID_FILEGROUP:
      return "WC_INVALID_FILEGROUP";
    case WC_DUPLICATE_RECORD:
      return "WC_DUPLICATE_RECORD";
    case WC_NO_ACTION_TAKEN:
      return "WC_NO_ACTION_TAKEN";
    case WC_ACCOUNT_LOCKED_OUT:
      return "WC_ACCOUNT_LOCKED_OUT";
    case WC_FILE_SEARCH_SYNTAX:
      return "WC_FILE_SEARCH_SYNTAX";
    case WC_REQUEST_NOT_ADDED:
      return "WC_REQUEST_NOT_ADDED";
    case WC_CONTEXT_MULTI_REFS:
      return "WC_CONTEXT_MULTI_REFS";
    case WC_CONTEXT_ALREADY_INITIALIZED:
      return "WC_CONTEXT_ALREADY_INITIALIZED";
    default:
      return "Unrecoginzed error.";
  }
}

std::string LoginFailureLine(const std::string& home,
                             const std::string& logPath, bool logged) {
  const Session& s = TheSession();
  const uint32_t code = s.LoginError != 0 ? s.LoginError : s.ConnectError;
  std::string why;
  switch (code) {
    case WC_ALREADY_LOGGED_IN:
    case WC_USER_ALREADY_LOGGED_IN:
      why = "another program holds it as its configuration utility";
      break;
    case WC_INCORRECT_PASSWORD:
      why =
          "it has a wcConfig password, and an unattended start logs in "
          "without one";
      break;
    case WC_ACCESS_DENIED:
      why =
          "its database cannot be written (permissions, or a full or "
          "read-only disk)";
      break;
    case WC_INVALID_CONNECTION_ID:
      why = "no host database is there (wcsrv.ini names the host's home)";
      break;
    default:
      why = s.ServerMessage;
      break;
  }
  if (code != 0) why += " (" + WcErrorName(code) + ")";
  return "quillmar: could not log in to the host " + home + ": " + why +
         (logged ? "; see " + logPath
                 : "; " + logPath + " could not be written");
}

namespace {

constexpr const char* kLoginTitle = "Quillmar Login";
constexpr const char* kLoginPrompt = "Please enter your wcConfig Password:";

bool IsRetryCode(uint32_t code) {
  return code == WC_INCORRECT_PASSWORD || code == WC_ALREADY_LOGGED_IN ||
         code == WC_USER_ALREADY_LOGGED_IN;
}

std::string RetryMessage(uint32_t code) {
  if (code == WC_INCORRECT_PASSWORD) {
    return "Incorrect Password: for login to Wildcat Server as a wcConfig "
           "Utility.";
  }
  return "A utility program is currently loggin to wcServer as a wcConfig "
         "utility.\r"
         "You must quit the current wcConfig program before Quillmar can "
         "login.";
}

}  // namespace

bool StartupLogin(void* mainWindow, bool automatic,
                  const LoginPrompts& prompts) {
  const auto ask = [&](std::string& value) {
    return prompts.passwordQuery &&
           prompts.passwordQuery(kLoginTitle, kLoginPrompt, value);
  };
  const auto show = [&](const std::string& text) {
    if (prompts.showMessage) prompts.showMessage(text);
  };

  if (!ServerConnect(mainWindow) && !automatic) {
    show(TheSession().ServerMessage);
    if (prompts.showWcError) prompts.showWcError(WcGetLastError());
    return false;
  }
  if (ServerLogin("")) return true;
  if (automatic) return false;  // an unattended start never prompts

  std::string typed;
  if (ask(typed) && ServerLogin(typed)) return true;
  // A cancelled prompt leaves the code of the attempt before it.
  for (uint32_t code = WcGetLastError(); IsRetryCode(code);
       code = WcGetLastError()) {
    show(RetryMessage(code));
    if (!ask(typed)) return false;
    if (ServerLogin(typed)) return true;
  }
  return false;
}

}  // namespace qm
