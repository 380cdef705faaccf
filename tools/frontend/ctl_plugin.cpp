// tandrelctl plugin: hands a request to the loaded plug-ins (command 1800) and prints what they
// send back. A plug-in may end the request with a final reply (the notes plug-in does) or not, so
// the verb ends at a final reply or once the plug-ins have been quiet for --quiet-ms.
#include <iostream>

#include "ctl_commands.h"
#include "platform/kst_fs.h"

namespace ctl {

namespace {

std::string PluginRequestJson(int type, const std::string& event) {
  std::string escaped;
  for (char c : event) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return "{\"type\":" + std::to_string(type) + ",\"info\":{\"sub_command_type\":\"" + escaped + "\"}}";
}

}  // namespace

int PluginCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl plugin EVENT [--attach FILE | --text TEXT] [--quiet-ms N]\n";
    return kExitUsage;
  }
  std::string attachment;
  int type = 0;
  if (list.Has("--attach")) {
    type = 1;
    if (!kst::ReadWholeFile(list.Get("--attach"), &attachment)) {
      std::cerr << "tandrelctl: cannot read " << list.Get("--attach") << "\n";
      return kExitUsage;
    }
  } else if (list.Has("--text")) {
    attachment = frontend::CompressAttachment(list.Get("--text"));
  }
  auto quiet = std::chrono::milliseconds(std::atoi(list.Get("--quiet-ms", "2000").c_str()));
  auto session = StartSession(options);
  if (!session) return kExitLink;
  uint64_t task = NewTaskId();
  if (!session->link.Send(1800, task, PluginRequestJson(type, list.positional[0]), attachment)) return kExitLink;
  int results = 0;
  while (auto message = session->link.NextFor(task, quiet)) {
    PrintMessage(*message, options);
    ++results;
    if (frontend::IsFinalStatus(message->status)) return message->status == 1 ? kExitOk : kExitFailed;
  }
  if (results == 0) std::cerr << "tandrelctl: no plug-in answered " << list.positional[0] << "\n";
  return results > 0 ? kExitOk : kExitFailed;
}

}  // namespace ctl
