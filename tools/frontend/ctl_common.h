// What every tandrelctl subcommand shares: global options, starting Tandrel, printing messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frontend_link.h"

namespace ctl {

struct GlobalOptions {
  frontend::StartOptions start;
  std::chrono::milliseconds timeout{60000};
  std::string save_dir;
  bool verbose = false;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLink = 3;

// Removes the global options from `args` (those before the subcommand and any after it).
bool ParseGlobalOptions(std::vector<std::string>* args, GlobalOptions* options, std::string* error);

// A started Tandrel with its connection and start-up report.
struct Session {
  frontend::Link link;
  frontend::Message startup_report;
};
// Listens, starts Tandrel and waits for its start-up report; null (with a message on stderr) on
// failure. With `keep_in_order` the report stays queued behind the messages that came before it.
std::unique_ptr<Session> StartSession(const GlobalOptions& options, bool keep_in_order = false);

void PrintMessage(const frontend::Message& message, const GlobalOptions& options);
// Draws a progress line on a terminal when the message tells how far a command is.
void ShowProgress(const frontend::Message& message);
// Draws a progress line for a fraction from 0 to 1 (on a terminal only).
void DrawProgressBar(double fraction);
void EndProgress();

// A fresh task ID for commands that did not name one.
uint64_t NewTaskId();

// Parses "--name value" pairs and flags after the positional arguments.
struct ArgList {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> named;
  bool Has(const std::string& name) const;
  std::string Get(const std::string& name, const std::string& fallback = std::string()) const;
};
ArgList SplitArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags_without_value);

}  // namespace ctl
