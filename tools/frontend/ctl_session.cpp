// tandrelctl session: commands as JSON lines on stdin, every message as a JSON line on stdout.
#include <rapidjson/document.h>

#include <atomic>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "ctl_commands.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

// Tasks sent whose final reply has not come yet.
class Outstanding {
 public:
  void Add(uint64_t task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.insert(task);
  }
  void Remove(uint64_t task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.erase(task);
  }
  bool Empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    return tasks_.empty();
  }

 private:
  std::mutex mutex_;
  std::set<uint64_t> tasks_;
};

std::string AttachmentOf(const rapidjson::Value& line) {
  auto attach = line.FindMember("attach");
  if (attach == line.MemberEnd() || attach->value.IsNull()) return std::string();
  std::string text = attach->value.IsString() ? std::string(attach->value.GetString(), attach->value.GetStringLength())
                                              : VelJsonUtil::ToString(attach->value);
  return frontend::CompressAttachment(text);
}

uint64_t TaskOf(const rapidjson::Value& value, const char* key) {
  auto member = value.FindMember(key);
  if (member == value.MemberEnd()) return 0;
  if (member->value.IsUint64()) return member->value.GetUint64();
  if (member->value.IsString()) return std::strtoull(member->value.GetString(), nullptr, 10);
  return 0;
}

// A stop command's target will never answer; stop waiting for it.
void ForgetStoppedTask(const rapidjson::Value& json, Outstanding* outstanding) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  if (info) outstanding->Remove(TaskOf(*info, "task_id"));
}

bool HandleLine(Session& session, const std::string& text, Outstanding* outstanding) {
  rapidjson::Document line;
  if (!VelJsonUtil::Parse(text, &line) || !line.IsObject()) {
    std::cerr << "tandrelctl: ignored a line that is not a JSON object\n";
    return true;
  }
  int64_t sleep_ms = 0;
  if (VelJsonUtil::GetInt64(line, "sleep_ms", &sleep_ms)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(sleep_ms));
    return true;
  }
  int64_t command = 0;
  if (!VelJsonUtil::GetInt64(line, "cmd", &command)) {
    std::cerr << "tandrelctl: a command line needs \"cmd\"\n";
    return true;
  }
  uint64_t task = line.HasMember("task") ? TaskOf(line, "task") : NewTaskId();
  std::string json = "{}";
  auto json_member = line.FindMember("json");
  if (json_member != line.MemberEnd()) {
    json = json_member->value.IsString()
               ? std::string(json_member->value.GetString(), json_member->value.GetStringLength())
               : VelJsonUtil::ToString(json_member->value);
  }
  int format = 1;
  VelJsonUtil::GetInt(line, "format", &format);
  outstanding->Add(task);
  if (command == 600 && json_member != line.MemberEnd() && json_member->value.IsObject()) {
    ForgetStoppedTask(json_member->value, outstanding);
  }
  return session.link.Send(static_cast<uint32_t>(command), task, json, AttachmentOf(line), format);
}

}  // namespace

int SessionCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  auto linger = std::chrono::milliseconds(std::atoi(list.Get("--linger-ms", "5000").c_str()));
  auto session = StartSession(options, true);
  if (!session) return kExitLink;
  Outstanding outstanding;
  std::atomic<bool> done{false};
  std::thread printer([&] {
    while (!done || !session->link.Lost()) {
      auto message = session->link.Next(std::chrono::milliseconds(100));
      if (!message) {
        if (done || session->link.Lost()) break;
        continue;
      }
      if (frontend::IsFinalStatus(message->status)) outstanding.Remove(message->task);
      PrintMessage(*message, options);
    }
  });
  std::string text;
  bool link_ok = true;
  while (link_ok && std::getline(std::cin, text)) {
    if (!text.empty()) link_ok = HandleLine(*session, text, &outstanding);
  }
  auto deadline = std::chrono::steady_clock::now() + linger;
  while (!outstanding.Empty() && !session->link.Lost() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Let messages that are already on their way reach the printer.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  done = true;
  printer.join();
  return link_ok ? kExitOk : kExitLink;
}

}  // namespace ctl
