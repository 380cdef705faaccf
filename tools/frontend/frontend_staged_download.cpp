#include "frontend_staged_download.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <vector>

#include "frontend_file_blocks.h"
#include "frontend_message.h"
#include "platform/vel_json_util.h"

namespace frontend {

namespace {

constexpr uint32_t kStagedDownload = 702;

class Download {
 public:
  Download(Link& link, const DownloadRequest& request, std::FILE* out) : link_(link), request_(request), out_(out) {}

  DownloadReport Run() {
    if (!Open()) return report_;
    size_t asked = 0;
    while (asked < blocks_.size() && asked < std::max<size_t>(request_.window, 1)) {
      if (!Ask(blocks_[asked++])) return Lost();
    }
    for (size_t taken = 0; taken < blocks_.size(); ++taken) {
      std::optional<Message> data = Reply();
      if (!data) return report_;
      if (asked < blocks_.size() && !Ask(blocks_[asked++])) return Lost();
      if (!Write(BlockOf(*data, blocks_[taken]), data->attachment)) {
        report_.outcome = DownloadOutcome::kWriteFailed;
        return report_;
      }
      link_.Recycle(std::move(data->attachment));
      if (request_.progress) request_.progress(report_.bytes, report_.size);
    }
    // After the last block Tandrel ends the task on its own.
    std::optional<Message> final_reply = link_.NextFor(request_.task, request_.timeout);
    if (!final_reply) return Lost();
    report_.code = final_reply->code;
    report_.outcome = final_reply->status == 1 && final_reply->code == 0 ? DownloadOutcome::kDone
                                                                         : DownloadOutcome::kRefused;
    return report_;
  }

 private:
  bool Send(const std::string& stage_members, const std::string& parameters) {
    return link_.Send(kStagedDownload, request_.task, request_.command_json(stage_members),
                      CompressAttachment(parameters));
  }

  bool Ask(const FileBlock& block) { return Send(R"("stage":2,"code":0)", FileBlockJson(block)); }

  DownloadReport Lost() {
    report_.outcome = DownloadOutcome::kLinkLost;
    return report_;
  }

  // The next reply of the task unless it ends the task (the report then says how).
  std::optional<Message> Reply() {
    std::optional<Message> message = link_.NextFor(request_.task, request_.timeout);
    if (!message) {
      Lost();
      return std::nullopt;
    }
    if (IsFinalStatus(message->status)) {
      report_.outcome = DownloadOutcome::kRefused;
      report_.code = message->code;
      return std::nullopt;
    }
    return message;
  }

  bool Open() {
    rapidjson::Document open(rapidjson::kObjectType);
    VelJsonUtil::AddJsonDictStringValue(open, open.GetAllocator(), "path", request_.device_path);
    if (!Send(R"("stage":1,"code":0)", VelJsonUtil::ToString(open))) {
      Lost();
      return false;
    }
    std::optional<Message> opened = Reply();
    if (!opened) return false;
    rapidjson::Document description;
    int64_t size = 0;
    if (OpeningDescription(*opened, &description)) {
      VelJsonUtil::GetInt64(description, "size", &size);
      for (const auto& entry : FileBlockPlan(description)) blocks_.push_back(entry.second);
    }
    if (blocks_.empty() || size <= 0) {
      report_.outcome = DownloadOutcome::kBadDescription;
      return false;
    }
    report_.size = static_cast<uint64_t>(size);
    return true;
  }

  // The block a data reply names (its "info" echoes the request); `expected` when it names none.
  FileBlock BlockOf(const Message& data, const FileBlock& expected) const {
    rapidjson::Document info;
    FileBlock named;
    if (!data.info || !VelJsonUtil::Parse(*data.info, &info) || !ParseFileBlock(info, &named)) return expected;
    return named;
  }

  bool Write(const FileBlock& block, const std::string& bytes) {
    if (bytes.size() > block.length || block.offset > report_.size || bytes.size() > report_.size - block.offset) {
      return false;  // more than the block, or past the file's end: not written anywhere
    }
    if (std::fseek(out_, static_cast<long>(block.offset), SEEK_SET) != 0) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) return false;
    report_.bytes += bytes.size();
    return true;
  }

  Link& link_;
  const DownloadRequest& request_;
  std::FILE* out_;
  std::vector<FileBlock> blocks_;
  DownloadReport report_;
};

}  // namespace

DownloadReport RunStagedDownload(Link& link, const DownloadRequest& request, std::FILE* out) {
  return Download(link, request, out).Run();
}

}  // namespace frontend
