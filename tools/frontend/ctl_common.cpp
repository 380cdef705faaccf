#include "ctl_common.h"

#include <rapidjson/document.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <random>

#include "platform/kst_process.h"

namespace ctl {

namespace {

bool TakeValue(std::vector<std::string>* args, size_t i, std::string* value) {
  if (i + 1 >= args->size()) return false;
  *value = (*args)[i + 1];
  args->erase(args->begin() + static_cast<std::ptrdiff_t>(i), args->begin() + static_cast<std::ptrdiff_t>(i) + 2);
  return true;
}

}  // namespace

bool ParseGlobalOptions(std::vector<std::string>* args, GlobalOptions* options, std::string* error) {
  for (size_t i = 0; i < args->size();) {
    const std::string name = (*args)[i];
    std::string value;
    if (name == "--verbose") {
      options->verbose = true;
      args->erase(args->begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    static const char* kValued[] = {"--tandrel", "--brand",     "--version", "--product",     "--open-log",
                                    "--show-console", "--type", "--start-task", "--load-module", "--timeout",
                                    "--save",    "--watch-pid"};
    bool known = false;
    for (const char* valued : kValued) known = known || name == valued;
    if (!known) {
      ++i;
      continue;
    }
    if (!TakeValue(args, i, &value)) {
      *error = name + " needs a value";
      return false;
    }
    auto& start = options->start;
    if (name == "--tandrel") start.tandrel_path = value;
    if (name == "--brand") start.brand = value;
    if (name == "--version") start.version = value;
    if (name == "--product") start.product = value;
    if (name == "--open-log") start.open_log = std::atoi(value.c_str());
    if (name == "--show-console") start.show_console = std::atoi(value.c_str());
    if (name == "--type") start.type = std::atoi(value.c_str());
    if (name == "--start-task") start.task_id = value;
    if (name == "--load-module") start.load_modules.push_back(value);
    if (name == "--watch-pid") start.watched_pid = std::atoll(value.c_str());
    if (name == "--timeout") options->timeout = std::chrono::milliseconds(static_cast<int64_t>(std::atof(value.c_str()) * 1000));
    if (name == "--save") options->save_dir = value;
  }
  return true;
}

std::unique_ptr<Session> StartSession(const GlobalOptions& options, bool keep_in_order) {
  auto session = std::make_unique<Session>();
  int port = session->link.Listen(0);
  if (port < 0) {
    std::cerr << "tandrelctl: cannot listen on a loopback port\n";
    return nullptr;
  }
  if (session->link.StartTandrel(options.start) < 0) {
    std::cerr << "tandrelctl: cannot start Tandrel\n";
    return nullptr;
  }
  if (!session->link.WaitConnected(std::chrono::seconds(15))) {
    std::cerr << "tandrelctl: Tandrel did not connect\n";
    return nullptr;
  }
  auto report = keep_in_order ? session->link.Peek(19, std::chrono::seconds(15))
                              : session->link.WaitFor(19, std::chrono::seconds(15));
  if (!report) {
    std::cerr << "tandrelctl: no start-up report from Tandrel\n";
    return nullptr;
  }
  session->startup_report = *report;
  return session;
}

void PrintMessage(const frontend::Message& message, const GlobalOptions& options) {
  static std::atomic<int> sequence{0};
  EndProgress();
  std::cout << frontend::MessageToJsonLine(message, options.save_dir, ++sequence) << std::endl;
}

namespace {

bool g_progress_shown = false;

bool ProgressFraction(const frontend::Message& message, double* fraction) {
  if (!message.info || message.status != 2) return false;
  rapidjson::Document info;
  if (info.Parse(message.info->c_str()).HasParseError() || !info.IsObject()) return false;
  for (const char* key : {"progress", "percent", "Progress"}) {
    auto member = info.FindMember(key);
    if (member != info.MemberEnd() && member->value.IsNumber()) {
      double value = member->value.GetDouble();
      *fraction = value > 1.0 ? value / 100.0 : value;
      return true;
    }
  }
  auto done = info.FindMember("done");
  auto total = info.FindMember("total");
  if (done != info.MemberEnd() && total != info.MemberEnd() && done->value.IsNumber() && total->value.IsNumber() &&
      total->value.GetDouble() > 0) {
    *fraction = done->value.GetDouble() / total->value.GetDouble();
    return true;
  }
  return false;
}

}  // namespace

void DrawProgressBar(double fraction) {
  if (!::isatty(STDERR_FILENO)) return;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  const int width = 40;
  int filled = static_cast<int>(fraction * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), ' ');
  std::fprintf(stderr, "\r[%s] %5.1f%%", bar.c_str(), fraction * 100.0);
  std::fflush(stderr);
  g_progress_shown = true;
}

void ShowProgress(const frontend::Message& message) {
  double fraction = 0;
  if (ProgressFraction(message, &fraction)) DrawProgressBar(fraction);
}

void EndProgress() {
  if (!g_progress_shown) return;
  std::fprintf(stderr, "\n");
  g_progress_shown = false;
}

uint64_t NewTaskId() {
  static std::atomic<uint64_t> next{0};
  if (next.load() == 0) {
    std::random_device device;
    next = (static_cast<uint64_t>(device()) << 16) + 1000;
  }
  return next++;
}

bool ArgList::Has(const std::string& name) const {
  for (const auto& [key, value] : named) {
    if (key == name) return true;
  }
  return false;
}

std::string ArgList::Get(const std::string& name, const std::string& fallback) const {
  for (const auto& [key, value] : named) {
    if (key == name) return value;
  }
  return fallback;
}

ArgList SplitArgs(const std::vector<std::string>& args, const std::vector<std::string>& flags_without_value) {
  ArgList list;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      list.positional.push_back(arg);
      continue;
    }
    bool is_flag = false;
    for (const std::string& flag : flags_without_value) is_flag = is_flag || flag == arg;
    if (is_flag || i + 1 >= args.size()) {
      list.named.emplace_back(arg, "");
    } else {
      list.named.emplace_back(arg, args[++i]);
    }
  }
  return list;
}

}  // namespace ctl
