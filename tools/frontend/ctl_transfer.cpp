// tandrelctl pull / push: one file block by block over the link, with a progress bar.
#include <openssl/evp.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

#include "ctl_commands.h"
#include "ctl_device.h"
#include "frontend_file_blocks.h"
#include "frontend_staged_download.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

constexpr uint64_t kBlockSize = 2097152;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

using Block = frontend::FileBlock;

std::string Md5Hex(const std::string& path) {
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::string();
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr);
  std::vector<char> buffer(1 << 20);
  size_t read;
  while ((read = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
    EVP_DigestUpdate(context.get(), buffer.data(), read);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_DigestFinal_ex(context.get(), digest, &size);
  std::string hex;
  char byte[3];
  for (unsigned int i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", digest[i]);
    hex += byte;
  }
  return hex;
}

std::string UploadDescription(const std::string& local, uint64_t size, const std::string& name) {
  rapidjson::Document json(rapidjson::kObjectType);
  auto& allocator = json.GetAllocator();
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "version", "1");
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "path", name);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "path_source", local);
  VelJsonUtil::AddJsonDictStringValue(json, allocator, "md5", Md5Hex(local));
  VelJsonUtil::AddJsonDictInt64Value(json, allocator, "size", static_cast<int64_t>(size));
  VelJsonUtil::AddJsonDictIntValue(json, allocator, "status", 0);
  rapidjson::Value fbs(rapidjson::kObjectType);
  for (uint64_t n = 1; (n - 1) * kBlockSize < size; ++n) {
    rapidjson::Value entry(rapidjson::kObjectType);
    uint64_t offset = (n - 1) * kBlockSize;
    VelJsonUtil::AddJsonDictIntValue(entry, allocator, "status", 0);
    VelJsonUtil::AddJsonDictInt64Value(entry, allocator, "offset", static_cast<int64_t>(offset));
    VelJsonUtil::AddJsonDictInt64Value(entry, allocator, "offset_length",
                                       static_cast<int64_t>(std::min(kBlockSize, size - offset)));
    VelJsonUtil::AddJsonDictObjectValue(fbs, allocator, std::to_string(n).c_str(), entry);
  }
  VelJsonUtil::AddJsonDictObjectValue(json, allocator, "fbs", fbs);
  return VelJsonUtil::ToString(json);
}

// The next message of the task; reports a final reply or a lost link and returns nothing then.
std::optional<frontend::Message> NextOfTask(Session& session, uint64_t task, const GlobalOptions& options,
                                            int* exit_code) {
  std::optional<frontend::Message> message = session.link.NextFor(task, options.timeout);
  if (!message) {
    std::cerr << "tandrelctl: no answer from Tandrel\n";
    *exit_code = kExitLink;
    return std::nullopt;
  }
  if (frontend::IsFinalStatus(message->status)) {
    *exit_code = message->status == 1 ? kExitOk : kExitFailed;
    if (message->status != 1) std::cerr << "tandrelctl: failed with code " << message->code << "\n";
  }
  return message;
}

}  // namespace

int PullCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 2) {
    std::cerr << "usage: tandrelctl pull DEVICE_PATH LOCAL_FILE [--device UDID]\n";
    return kExitUsage;
  }
  const std::string& local = list.positional[1];
  auto session = StartSession(options);
  if (!session) return kExitLink;
  auto device = WaitForDevice(*session, list.Get("--device"), options.timeout);
  if (!device) return kExitFailed;
  File out(std::fopen(local.c_str(), "wb"));
  if (!out) {
    std::cerr << "tandrelctl: cannot write " << local << "\n";
    return kExitUsage;
  }
  frontend::DownloadRequest request;
  request.task = NewTaskId();
  request.device_path = list.positional[0];
  request.command_json = [&device](const std::string& members) { return DeviceJson(*device, members); };
  request.timeout = options.timeout;
  request.progress = [](uint64_t done, uint64_t size) {
    DrawProgressBar(size > 0 ? static_cast<double>(done) / static_cast<double>(size) : 1.0);
  };
  frontend::DownloadReport report = frontend::RunStagedDownload(session->link, request, out.get());
  EndProgress();
  out.reset();
  switch (report.outcome) {
    case frontend::DownloadOutcome::kDone:
      std::cout << "pulled " << report.bytes << " bytes to " << local << "\n";
      return kExitOk;
    case frontend::DownloadOutcome::kRefused:
      std::cerr << "tandrelctl: failed with code " << report.code << "\n";
      return kExitFailed;
    case frontend::DownloadOutcome::kLinkLost:
      std::cerr << "tandrelctl: no answer from Tandrel\n";
      return kExitLink;
    case frontend::DownloadOutcome::kBadDescription:
      std::cerr << "tandrelctl: Tandrel described the file without a usable block plan\n";
      return kExitFailed;
    case frontend::DownloadOutcome::kWriteFailed:
      std::cerr << "tandrelctl: cannot write " << local << "\n";
      return kExitFailed;
  }
  return kExitFailed;
}

int PushCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 2) {
    std::cerr << "usage: tandrelctl push LOCAL_FILE DEVICE_DIR [--name NAME] [--device UDID]\n";
    return kExitUsage;
  }
  const std::string& local = list.positional[0];
  int64_t size = kst::FileSize(local);
  File in(std::fopen(local.c_str(), "rb"));
  if (size <= 0 || !in) {
    std::cerr << "tandrelctl: cannot read " << local << " (or it is empty)\n";
    return kExitUsage;
  }
  std::string name = list.Get("--name", local.substr(local.find_last_of('/') + 1));
  auto session = StartSession(options);
  if (!session) return kExitLink;
  auto device = WaitForDevice(*session, list.Get("--device"), options.timeout);
  if (!device) return kExitFailed;
  uint64_t task = NewTaskId();
  rapidjson::Document info(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "name", name);
  VelJsonUtil::AddJsonDictStringValue(info, info.GetAllocator(), "dir", list.positional[1]);
  session->link.Send(703, task, DeviceJson(*device, R"("stage":1,"code":0,"info":)" + VelJsonUtil::ToString(info)),
                     frontend::CompressAttachment(UploadDescription(local, static_cast<uint64_t>(size), name)));
  int code = kExitOk;
  std::vector<char> buffer;
  uint64_t sent = 0;
  for (;;) {
    auto message = NextOfTask(*session, task, options, &code);
    if (!message) return kExitLink;
    if (frontend::IsFinalStatus(message->status)) break;
    if (message->stage == 3) continue;  // the device has the whole file; the final reply follows
    rapidjson::Document request;
    Block block;
    if (!VelJsonUtil::Parse(message->attachment, &request) || !frontend::ParseFileBlock(request, &block) ||
        block.offset + block.length > static_cast<uint64_t>(size)) {
      std::cerr << "tandrelctl: Tandrel asked for a block this file does not have\n";
      return kExitFailed;
    }
    buffer.resize(block.length);
    std::fseek(in.get(), static_cast<long>(block.offset), SEEK_SET);
    size_t read = std::fread(buffer.data(), 1, buffer.size(), in.get());
    session->link.Send(703, task, DeviceJson(*device, R"("stage":2,"code":0,"info":)" + frontend::FileBlockJson(block)),
                       std::string(buffer.data(), read));
    sent += read;
    DrawProgressBar(std::min(1.0, static_cast<double>(sent) / static_cast<double>(size)));
  }
  EndProgress();
  if (code == kExitOk) std::cout << "pushed " << local << " to " << list.positional[1] << "/" << name << "\n";
  return code;
}

}  // namespace ctl
