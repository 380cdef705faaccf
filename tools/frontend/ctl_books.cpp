// tandrelctl books / ringtones / recordings / add-book / remove-book: the media module's books,
// ringtones and voice recordings (1001, 1002) and adding (1012) and removing (1013) books.
#include <rapidjson/document.h>

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_listing.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

constexpr uint32_t kGroupRecordings = 1002;
constexpr uint32_t kGroupRingtones = 1003;
constexpr uint32_t kGroupBooks = 1008;

// Runs a listing command and prints the objects of one of its groups with `print`.
template <typename Print>
int PrintGroup(const GlobalOptions& options, const std::vector<std::string>& args, const char* usage,
               uint32_t command, uint32_t group, const char* noun, Print print) {
  ArgList list = SplitArgs(args, {});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl " << usage << " [--device UDID]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, command, "", "", &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  auto objects = BatchObjects(*messages, group);
  for (const rapidjson::Document& object : objects) print(object);
  std::printf("%zu %s\n", objects.size(), noun);
  return code;
}

// The compressed parameters of 1012 and 1013.
std::string Parameters(const rapidjson::Document& parameters) {
  return frontend::CompressAttachment(VelJsonUtil::ToString(parameters));
}

int RunChange(const GlobalOptions& options, const ArgList& list, uint32_t command,
              const rapidjson::Document& parameters) {
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, command, "", Parameters(parameters), &code);
  if (!messages || messages->empty()) return code == kExitOk ? kExitFailed : code;
  for (const frontend::Message& message : *messages) {
    if (message.status == 2 && message.info) std::cout << *message.info << "\n";
  }
  const frontend::Message& last = messages->back();
  if (last.status != 1) std::cerr << "failed with code " << last.code << "\n";
  return last.status == 1 ? code : kExitFailed;
}

}  // namespace

int BooksCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return PrintGroup(options, args, "books", 1001, kGroupBooks, "books", [](const rapidjson::Value& book) {
    std::printf("%10s  %s  %-30s  %s%s\n", MemberText(book, "size").c_str(), MemberText(book, "path").c_str(),
                MemberText(book, "title").c_str(), MemberText(book, "artist").c_str(),
                MemberText(book, "purchase") == "1" ? "  (purchased)" : "");
  });
}

int RingtonesCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return PrintGroup(options, args, "ringtones", 1001, kGroupRingtones, "ringtones", [](const rapidjson::Value& tone) {
    std::printf("%8s  %10s  %s  %s\n", MemberText(tone, "duration").c_str(), MemberText(tone, "size").c_str(),
                MemberText(tone, "path").c_str(), MemberText(tone, "title").c_str());
  });
}

int RecordingsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  return PrintGroup(options, args, "recordings", 1002, kGroupRecordings, "recordings", [](const rapidjson::Value& memo) {
    std::printf("%s  %8s  %10s  source %s  %s  %s\n", MemberText(memo, "date").c_str(),
                MemberText(memo, "duration").c_str(), MemberText(memo, "size").c_str(),
                MemberText(memo, "source").c_str(), MemberText(memo, "path").c_str(), MemberText(memo, "label").c_str());
  });
}

int AddBookCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl add-book FILE.epub|FILE.pdf [--device UDID]\n";
    return kExitUsage;
  }
  std::error_code error;
  std::string path = std::filesystem::absolute(list.positional[0], error).string();
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  parameters.AddMember("path", rapidjson::Value(path.c_str(), allocator), allocator);
  parameters.AddMember("remote", "/Books", allocator);
  return RunChange(options, list, 1012, parameters);
}

int RemoveBookCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.empty()) {
    std::cerr << "usage: tandrelctl remove-book DEVICE_PATH... [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  auto& allocator = parameters.GetAllocator();
  rapidjson::Value paths(rapidjson::kArrayType);
  for (const std::string& path : list.positional) paths.PushBack(rapidjson::Value(path.c_str(), allocator), allocator);
  parameters.AddMember("paths", paths, allocator);
  return RunChange(options, list, 1013, parameters);
}

}  // namespace ctl
