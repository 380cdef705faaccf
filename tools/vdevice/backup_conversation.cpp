#include "backup_conversation.h"

#include <algorithm>
#include <cstdlib>

#include "log.h"

namespace vdevice {

namespace {

constexpr const char* kHostileContent = "written where the device said\n";

}  // namespace

BackupConversation::BackupConversation(ServiceContext& context) : context_(context) {}

bool BackupConversation::ReadStatus(const char* after) {
  HostMessage reply;
  HostRead read = ReadHostMessage(stream(), &reply);
  if (read == HostRead::kClosed) {
    LogLine("%s mobilebackup2: the computer went away after %s", udid().c_str(), after);
    return false;
  }
  if (read != HostRead::kMessage || reply.name != "DLMessageStatusResponse") {
    LogLine("%s mobilebackup2: expected a status response after %s, got %s", udid().c_str(), after,
            reply.name.empty() ? "a malformed message" : reply.name.c_str());
    return false;
  }
  LogDetail("%s mobilebackup2: status response after %s", udid().c_str(), after);
  return true;
}

bool BackupConversation::Exchange(const DeviceLinkMessage& message) {
  char* name = nullptr;
  plist_get_string_val(plist_array_get_item(message.get(), 0), &name);
  std::string text = name ? name : "";
  std::free(name);
  return SendDeviceLink(stream(), message) && ReadStatus(text.c_str());
}

bool BackupConversation::Download(const std::vector<std::string>& paths, double progress, HostFileSink& sink) {
  PlistPtr list(plist_new_array());
  for (const std::string& path : paths) plist_array_append_item(list.get(), plist_new_string(path.c_str()));
  DeviceLinkMessage message("DLMessageDownloadFiles");
  message.Node(std::move(list)).Node(MakeDict()).Real(progress);
  if (!SendDeviceLink(stream(), message)) return false;
  FileListEnd end = ReceiveFileList(stream(), sink);
  if (end != FileListEnd::kComplete) {
    LogLine("%s mobilebackup2: the computer's files for DLMessageDownloadFiles %s", udid().c_str(),
            end == FileListEnd::kClosed ? "were cut off" : "were malformed");
    return false;
  }
  return ReadStatus("DLMessageDownloadFiles");
}

bool BackupConversation::Finish(uint64_t code, const std::string& description, const std::string& content) {
  PlistPtr dict = MakeDict();
  SetUnsigned(dict.get(), "ErrorCode", code);
  if (!description.empty()) SetString(dict.get(), "ErrorDescription", description);
  if (!content.empty()) SetString(dict.get(), "Content", content);
  LogLine("%s mobilebackup2: request ends with ErrorCode %llu%s%s", udid().c_str(),
          static_cast<unsigned long long>(code), description.empty() ? "" : " ", description.c_str());
  return SendProcessMessage(stream(), std::move(dict));
}

void BackupConversation::WaitForHostEnd(bool say_disconnect) {
  HostMessage reply;
  if (ReadHostMessage(stream(), &reply) != HostRead::kMessage || reply.name == "DLMessageDisconnect") return;
  if (say_disconnect) SendDeviceLink(stream(), DeviceLinkMessage("DLMessageDisconnect").String(kEmptyParameterString));
}

bool BackupConversation::SendHostileMessages(const std::vector<std::string>& operations, const std::string& source) {
  auto wanted = [&operations](const Fault& fault) {
    return std::find(operations.begin(), operations.end(), fault.value) != operations.end();
  };
  for (const Fault& fault : device().faults().TakeAll(stream().service(), FaultKind::kHostile, wanted)) {
    std::string path = ExpandPlaceholders(fault.paths[0], udid(), source);
    LogLine("fault: %s mobilebackup2 names the hostile path \"%s\" in a %s", udid().c_str(), path.c_str(),
            fault.value.c_str());
    bool answered = true;
    if (fault.value == "mkdir") {
      answered = Exchange(DeviceLinkMessage("DLMessageCreateDirectory").String(path));
    } else if (fault.value == "remove") {
      PlistPtr list(plist_new_array());
      plist_array_append_item(list.get(), plist_new_string(path.c_str()));
      answered = Exchange(DeviceLinkMessage("DLMessageRemoveItems").Node(std::move(list)).Node(MakeDict()).Real(0));
    } else if (fault.value == "move") {
      PlistPtr moves = MakeDict();
      SetString(moves.get(), path.c_str(), ExpandPlaceholders(fault.paths[1], udid(), source));
      answered = Exchange(DeviceLinkMessage("DLMessageMoveItems").Node(std::move(moves)).Node(MakeDict()).Real(0));
    } else if (fault.value == "upload") {
      std::string content = kHostileContent;
      answered = SendDeviceLink(stream(), DeviceLinkMessage("DLMessageUploadFiles").Node(MakeDict()).Real(0).Unsigned(content.size())) &&
                 UploadFile(stream(), path, path, content.size(),
                            [&content](uint64_t offset, char* buffer, size_t length) {
                              content.copy(buffer, length, static_cast<size_t>(offset));
                              return true;
                            }) &&
                 EndFileList(stream()) && ReadStatus("DLMessageUploadFiles");
    } else if (fault.value == "download") {
      DiscardingSink sink;
      answered = Download({path}, 0, sink);
    }
    if (!answered) return false;
  }
  return true;
}

void DiscardingSink::End(bool ok, const std::string& error_text) {
  if (ok) {
    LogLine("mobilebackup2: the computer sent %s (%llu bytes)", path_.c_str(), static_cast<unsigned long long>(bytes_));
  } else {
    LogDetail("mobilebackup2: the computer has no %s (%s)", path_.c_str(), error_text.c_str());
  }
  bytes_ = 0;
}

std::string ExpandPlaceholders(const std::string& path, const std::string& udid, const std::string& source) {
  std::string expanded = path;
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"@UDID@", udid}, {"@SOURCE@", source}}) {
    for (size_t at = expanded.find(name); at != std::string::npos; at = expanded.find(name, at + value.size())) {
      expanded.replace(at, name.size(), value);
    }
  }
  return expanded;
}

}  // namespace vdevice
