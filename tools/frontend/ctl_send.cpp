// tandrelctl send: one command, every message of its task, exit status from the final reply.
#include <iostream>

#include "ctl_commands.h"
#include "platform/kst_fs.h"

namespace ctl {

int RunCommand(Session& session, const GlobalOptions& options, uint32_t command, uint64_t task,
               const std::string& json, const std::string& attachment, int format,
               std::vector<frontend::Message>* collected) {
  if (!session.link.Send(command, task, json, attachment, format)) {
    std::cerr << "tandrelctl: the link to Tandrel is gone\n";
    return kExitLink;
  }
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    std::vector<frontend::Message> batch = session.link.CollectUntilFinal(task, std::min(left, std::chrono::milliseconds(200)));
    for (const frontend::Message& message : batch) {
      if (collected) collected->push_back(message);
      if (frontend::IsFinalStatus(message.status)) {
        EndProgress();
        if (!collected) PrintMessage(message, options);
        return message.status == 1 ? kExitOk : kExitFailed;
      }
      if (!collected) PrintMessage(message, options);
      ShowProgress(message);
    }
    if (session.link.Lost()) {
      std::cerr << "tandrelctl: the link to Tandrel was lost before the final reply\n";
      return kExitLink;
    }
  }
  std::cerr << "tandrelctl: no final reply within the time-out\n";
  return kExitFailed;
}

int SendCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 2) {
    std::cerr << "usage: tandrelctl send CMD JSON [--attach-json TEXT | --attach-file F] [--format N] [--task ID]\n";
    return kExitUsage;
  }
  uint32_t command = static_cast<uint32_t>(std::strtoul(list.positional[0].c_str(), nullptr, 10));
  std::string attachment;
  if (list.Has("--attach-json")) attachment = frontend::CompressAttachment(list.Get("--attach-json"));
  if (list.Has("--attach-file") && !kst::ReadWholeFile(list.Get("--attach-file"), &attachment)) {
    std::cerr << "tandrelctl: cannot read " << list.Get("--attach-file") << "\n";
    return kExitUsage;
  }
  uint64_t task = list.Has("--task") ? std::strtoull(list.Get("--task").c_str(), nullptr, 10) : NewTaskId();
  int format = std::atoi(list.Get("--format", "1").c_str());
  auto session = StartSession(options);
  if (!session) return kExitLink;
  if (options.verbose) PrintMessage(session->startup_report, options);
  return RunCommand(*session, options, command, task, list.positional[1], attachment, format, nullptr);
}

}  // namespace ctl
