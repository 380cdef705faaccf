#include "utility/module/connect/kor_driver_download.h"

#include <rapidjson/document.h>
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "Tandrel/kor_process.h"
#include "platform/kst_fs.h"
#include "platform/kst_log.h"
#include "platform/qr_task_schedular.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_client.h"
#include "utility/kor_command.h"
#include "utility/module/connect/kor_file_md5.h"
#include "utility/module/connect/kor_web_request.h"

namespace {

constexpr int kProgressSeconds = 2;
constexpr size_t kMaxChecksumText = 1024;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};

// The state of one file download.
struct DownloadData {
  std::string url;
  std::string local_path;
  int64_t total = 0;
  int64_t written = 0;
  std::FILE* file = nullptr;
  int index = 0;
  int count = 0;
  KorPacketHeader header;
  int64_t last_progress = 0;
  std::shared_ptr<QrTask> task;
};

int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool Stopped(const std::shared_ptr<QrTask>& task) { return !task || task->GetStatus() == kQrTaskStatusStopped; }

void SendProgress(const DownloadData& data) {
  rapidjson::Document info(rapidjson::kObjectType);
  auto& allocator = info.GetAllocator();
  VelJsonUtil::AddJsonDictInt64Value(info, allocator, "total", data.total);
  VelJsonUtil::AddJsonDictInt64Value(info, allocator, "step", data.written);
  VelJsonUtil::AddJsonDictIntValue(info, allocator, "index", data.index);
  VelJsonUtil::AddJsonDictIntValue(info, allocator, "count", data.count);
  KorMessage message;
  message.stage = 2;
  message.info = VelJsonUtil::ToString(info);
  KorClient::Instance().Send(data.header, message);
}

size_t WriteBlock(const char* bytes, size_t size, void* user) {
  auto* data = static_cast<DownloadData*>(user);
  if (Stopped(data->task)) return 0;  // a short count ends the transfer
  size_t written = std::fwrite(bytes, 1, size, data->file);
  data->written += static_cast<int64_t>(written);
  int64_t now = NowSeconds();
  if (now - data->last_progress > kProgressSeconds) {
    data->last_progress = now;
    SendProgress(*data);
  }
  return written;
}

bool SameChecksum(const std::string& path, const std::string& expected) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return false;
  std::string actual = KorFileMd5(path);
  return !actual.empty() && strcasecmp(actual.c_str(), expected.c_str()) == 0;
}

// The checksum text without surrounding white space; servers often end files with a newline.
std::string TrimChecksum(std::string text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  size_t end = text.find_last_not_of(" \t\r\n");
  return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

class DriverDownload {
 public:
  DriverDownload(const kst::IPCPacket* packet, std::shared_ptr<QrTask> task) : packet_(packet), task_(std::move(task)) {
    paths_.SetArray();
  }

  int Run(const std::string& base_url) {
    const auto& names = KorDriverPackageNames();
    int count = static_cast<int>(names.size());
    for (int i = 0; i < count; ++i) {
      if (Stopped(task_)) return kKorStopped;
      int code = Package(base_url + names[i], i + 1, count);
      if (code == kKorStopped || code_stops_loop_) return code;
      if (code != kKorOk) code_ = code;
    }
    return code_;
  }

  void SendPaths() {
    KorMessage message;
    message.stage = 3;
    message.info = VelJsonUtil::ToString(paths_);
    KorClient::Instance().Send(KorPacketHeader{packet_->task_id, kKorStatusIntermediate, packet_->command}, message);
  }

 private:
  int Package(const std::string& url, int index, int count) {
    std::string checksum_url = url + ".txt";
    if (KorQueryUrlSize(checksum_url) == 0) {
      KLOG(WARNING) << "md5Url file size 0: " << checksum_url;
      return kKorOk;
    }
    std::string expected;
    if (!KorDownloadText(checksum_url, kMaxChecksumText, &expected)) {
      KLOG(ERROR) << "Url Error: " << checksum_url;
      return kKorConnectDownloadFailed;
    }
    expected = TrimChecksum(expected);
    size_t slash = url.find_last_of('/');
    if (slash == std::string::npos) {
      KLOG(ERROR) << "Url Error: " << url;
      return kKorConnectDownloadFailed;
    }
    std::string local = KorDriverFolder() + url.substr(slash + 1);
    if (SameChecksum(local, expected)) {
      AddPath(local);
      return kKorOk;
    }
    return Download(url, local, expected, index, count);
  }

  int Download(const std::string& url, const std::string& local, const std::string& expected, int index, int count) {
    DownloadData data;
    data.url = url;
    data.local_path = local;
    data.total = KorQueryUrlSize(url);
    if (data.total == 0) KLOG(ERROR) << "Query Url File Size 0: " << url;
    data.index = index;
    data.count = count;
    data.header = KorPacketHeader{packet_->task_id, kKorStatusIntermediate, packet_->command};
    data.last_progress = NowSeconds();
    data.task = task_;
    int result = 0;
    {
      std::unique_ptr<std::FILE, FileCloser> file(std::fopen(local.c_str(), "wb"));
      if (!file) {
        KLOG(ERROR) << "Write File Error: " << local;
        code_stops_loop_ = true;
        return kKorConnectDownloadFailed;
      }
      data.file = file.get();
      result = KorDownloadUrl(url, WriteBlock, &data);
    }
    if (Stopped(task_)) return kKorStopped;
    code_stops_loop_ = true;
    if (result != 0) return kKorConnectDownloadFailed;
    SendProgress(data);
    if (!SameChecksum(local, expected)) {
      KLOG(ERROR) << "Download Driver UnComplete: " << local;
      return kKorConnectDownloadFailed;
    }
    code_stops_loop_ = false;
    AddPath(local);
    return kKorOk;
  }

  void AddPath(const std::string& path) {
    paths_.PushBack(rapidjson::Value(path.c_str(), paths_.GetAllocator()), paths_.GetAllocator());
  }

  const kst::IPCPacket* packet_;
  std::shared_ptr<QrTask> task_;
  rapidjson::Document paths_;
  int code_ = kKorOk;
  bool code_stops_loop_ = false;
};

}  // namespace

const std::vector<std::string>& KorDriverPackageNames() {
  static const std::vector<std::string> names = {"x64/AppleApplicationSupport.msi",
                                                 "x64/AppleApplicationSupport64.msi",
                                                 "x64/AppleMobileDeviceSupport64.msi"};
  return names;
}

std::string KorDriverFolder() { return KorProcess::Get().LogFolder() + "/ios_driver/"; }

int KorDownloadDrivers(const kst::IPCPacket* packet) {
  auto task = QrTaskSchedular::Get().FindTask(KorTaskIdText(packet));
  if (Stopped(task)) return kKorStopped;
  KorCommandPayload payload = KorParseCommandPayload(packet);
  rapidjson::Document json;
  std::string base_url;
  int code = kKorOk;
  if (!VelJsonUtil::Parse(payload.json, payload.json_length, &json) || !json.IsObject()) {
    code = kKorBadParameters;
  } else {
    if (json.HasMember("info") && json["info"].IsObject()) VelJsonUtil::GetString(json["info"], "url", &base_url);
    if (base_url.empty() || base_url.back() != '/') base_url += "/";
  }
  kst::CreateDirectories(KorDriverFolder());
  DriverDownload download(packet, task);
  if (code == kKorOk) code = download.Run(base_url);
  download.SendPaths();
  return code;
}
