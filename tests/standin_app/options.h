// The stand-in app's command line: its switches, their usage text and the
// Options they make.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace harlo_standin {

// Printed for --help, and on standard error for a bad command line.
inline constexpr std::string_view kUsage =
    "usage: harlo-standin-app [switches]\n"
    "\n"
    "Plays the desktop app's side of the MCP link for tests. Listens on the\n"
    "socket path computed from HOME and TMPDIR and prints \"listening <path>\".\n"
    "\n"
    "Where to listen:\n"
    "  --socket PATH                  listen on PATH instead\n"
    "\n"
    "Handshake reply (default {\"ok\":true}):\n"
    "  --reject                       {\"error\":\"outdated\"}, then close\n"
    "  --reject-version V             {\"error\":\"outdated\",\"version\":\"V\"}, then close\n"
    "  --handshake-reply TEXT         TEXT verbatim, then carry on as if accepted\n"
    "  --handshake-reply-size N       {\"ok\":true,\"pad\":\"xx...\"} padded to exactly N\n"
    "                                 bytes before its LF (N >= 20; a --crlf CR counts)\n"
    "  --no-handshake-reply           close right after reading the handshake\n"
    "  --silent-handshake             never reply; keep reading until the bridge closes\n"
    "\n"
    "After the handshake:\n"
    "  --on-connect LINE              write LINE right after the accepted handshake\n"
    "                                 (repeatable)\n"
    "  --before-initialize-reply LINE write LINE just before the answer to initialize\n"
    "                                 (repeatable; written even when that answer is\n"
    "                                 withheld)\n"
    "  --before-reply LINE            write LINE just before every other answer\n"
    "                                 (repeatable; written even when the answer is withheld)\n"
    "  --initialize-error             answer initialize with an error response\n"
    "  --initialize-silent            never answer initialize\n"
    "  --no-answer-method M           never answer requests for method M (repeatable)\n"
    "  --never-answer                 answer no request at all\n"
    "  --delay-ms N                   wait N milliseconds before each answer\n"
    "  --close-after N                close the connection once N requests on it are\n"
    "                                 answered (0: right after the handshake)\n"
    "  --close-mid-line               with --close-after N: write only the first half of\n"
    "                                 the Nth answer, without LF, then close\n"
    "  --crlf                         end every written line with CR LF\n"
    "\n"
    "Test aids:\n"
    "  --record FILE                  append every received line (handshake included),\n"
    "                                 without its LF, to FILE, from all connections\n"
    "  --help                         print this text and exit\n";

// What the stand-in does with the bridge's handshake line.
enum class HandshakeMode {
  kReplyAndServe,  // write `handshake_reply`, then speak JSON-RPC
  kReplyAndClose,  // write `handshake_reply`, then close (a refusal)
  kClose,          // close without a reply
  kSilent,         // never reply, keep reading
};

// What the switches ask for; kUsage says what each one does.
struct Options {
  std::optional<std::string> socket_path;  // else the bridge's own rule
  HandshakeMode handshake_mode = HandshakeMode::kReplyAndServe;
  std::string handshake_reply = R"({"ok":true})";
  std::vector<std::string> on_connect;
  std::vector<std::string> before_initialize_reply;
  std::vector<std::string> before_reply;
  bool initialize_error = false;
  bool initialize_silent = false;
  std::set<std::string> unanswered_methods;
  bool never_answer = false;
  std::chrono::milliseconds delay{0};
  std::optional<long> close_after;
  bool close_mid_line = false;
  bool crlf = false;
  std::optional<std::string> record_file;
};

enum class ParseResult { kRun, kHelp, kBad };

// Reads the switches of argv[1..argc-1] into `options`. kBad names the
// offending switch in `error`: an unknown one, a missing or bad value, or a
// --handshake-reply-size too small for the reply's frame.
ParseResult parse_options(int argc, char** argv, Options* options, std::string* error);

}  // namespace harlo_standin
