// tandrelctl photos / albums / thumbs / delete-photos: the photo module's commands (400-404).
#include <rapidjson/document.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "ctl_commands.h"
#include "ctl_listing.h"
#include "platform/kst_fs.h"
#include "platform/vel_json_util.h"

namespace ctl {

namespace {

// The "info" member of a listing command, as the inside of the command's JSON object.
std::string ListingInfo(const ArgList& list, bool with_album) {
  std::string info = "\"refresh\":" + std::string(list.Has("--refresh") ? "1" : "0");
  if (with_album) {
    info += ",\"album_id\":" + std::to_string(std::atoll(list.Get("--album").c_str())) +
            ",\"album_type\":" + std::to_string(std::atoll(list.Get("--type", "0").c_str()));
  }
  return "\"info\":{" + info + "}";
}

}  // namespace

int PhotosCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--refresh"});
  bool album = list.Has("--album");
  if (!list.positional.empty() || (list.Has("--type") && !album)) {
    std::cerr << "usage: tandrelctl photos [--album ID --type T] [--refresh] [--device UDID]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, album ? 402 : 400, ListingInfo(list, album), "", &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  auto photos = BatchObjects(*messages);
  for (const rapidjson::Document& photo : photos) {
    std::printf("%8s  %s  %s\n", MemberText(photo, "Z_PK").c_str(), MemberText(photo, "ZDATECREATED").c_str(),
                MemberText(photo, "PATH").c_str());
  }
  std::printf("%zu photos\n", photos.size());
  return code;
}

int AlbumsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {"--refresh"});
  if (!list.positional.empty()) {
    std::cerr << "usage: tandrelctl albums [--refresh] [--device UDID]\n";
    return kExitUsage;
  }
  int code = kExitOk;
  auto messages = RunOnDevice(options, list, 401, ListingInfo(list, false), "", &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  auto albums = BatchObjects(*messages);
  std::printf("%4s %8s %7s  %s\n", "type", "id", "count", "title");
  for (const rapidjson::Document& album : albums) {
    std::printf("%4s %8s %7s  %s\n", MemberText(album, "TYPE").c_str(), MemberText(album, "Z_PK").c_str(),
                MemberText(album, "COUNT").c_str(), MemberText(album, "TITLE").c_str());
  }
  std::printf("%zu albums\n", albums.size());
  return code;
}

namespace {

// "ID:PATH" into an entry of the request list; a numeric ID stays a number.
bool AddThumbnailEntry(const std::string& argument, rapidjson::Document* request) {
  size_t colon = argument.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == argument.size()) return false;
  std::string id = argument.substr(0, colon);
  auto& allocator = request->GetAllocator();
  rapidjson::Value entry(rapidjson::kObjectType);
  bool numeric = id.find_first_not_of("0123456789") == std::string::npos && id.size() < 18;
  if (numeric) {
    entry.AddMember("id", rapidjson::Value(static_cast<int64_t>(std::atoll(id.c_str()))), allocator);
  } else {
    entry.AddMember("id", rapidjson::Value(id.c_str(), allocator), allocator);
  }
  entry.AddMember("path", rapidjson::Value(argument.substr(colon + 1).c_str(), allocator), allocator);
  request->PushBack(entry, allocator);
  return true;
}

// The file name for a thumbnail: its ID (confined to a plain name) and the image's own extension.
std::string ThumbnailFileName(const std::string& id, const std::string& bytes) {
  std::string name;
  for (char c : id) name.push_back(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '_');
  bool png = bytes.compare(0, 4, "\x89PNG") == 0;
  return (name.empty() ? "thumbnail" : name) + (png ? ".png" : ".jpg");
}

}  // namespace

int ThumbsCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  rapidjson::Document request(rapidjson::kArrayType);
  bool usable = !list.positional.empty() && !options.save_dir.empty();
  for (const std::string& argument : list.positional) usable = usable && AddThumbnailEntry(argument, &request);
  if (!usable) {
    std::cerr << "usage: tandrelctl thumbs ID:PATH... --save DIR [--device UDID]\n";
    return kExitUsage;
  }
  if (!kst::CreateDirectories(options.save_dir)) {
    std::cerr << "tandrelctl: cannot create " << options.save_dir << "\n";
    return kExitFailed;
  }
  GlobalOptions quiet = options;
  quiet.save_dir.clear();  // the thumbnails are written here under their IDs
  int code = kExitOk;
  auto messages =
      RunOnDevice(quiet, list, 403, "", frontend::CompressAttachment(VelJsonUtil::ToString(request)), &code);
  if (!messages || FailedFinal(*messages)) return code == kExitOk ? kExitFailed : code;
  size_t saved = 0;
  for (const frontend::Message& message : *messages) {
    rapidjson::Document info;
    if (message.status != 2 || !message.info || !VelJsonUtil::Parse(*message.info, &info) || !info.IsObject()) continue;
    std::string file = options.save_dir + "/" + ThumbnailFileName(MemberText(info, "id"), message.attachment);
    if (!kst::WriteWholeFile(file, message.attachment)) {
      std::cerr << "tandrelctl: cannot write " << file << "\n";
      return kExitFailed;
    }
    std::cout << MemberText(info, "id") << ": " << MemberText(info, "path") << " -> " << file << "\n";
    ++saved;
  }
  std::cout << saved << " of " << list.positional.size() << " thumbnails saved\n";
  return code;
}

int DeletePhotosCommand(const GlobalOptions& options, const std::vector<std::string>& args) {
  ArgList list = SplitArgs(args, {});
  if (list.positional.size() != 1) {
    std::cerr << "usage: tandrelctl delete-photos NAME [--device UDID]\n";
    return kExitUsage;
  }
  rapidjson::Document parameters(rapidjson::kObjectType);
  VelJsonUtil::AddJsonDictStringValue(parameters, parameters.GetAllocator(), "name", list.positional[0]);
  int code = kExitOk;
  auto messages =
      RunOnDevice(options, list, 404, "", frontend::CompressAttachment(VelJsonUtil::ToString(parameters)), &code);
  if (!messages) return code;
  if (code == kExitOk) std::cout << "deleted the photos whose name contains \"" << list.positional[0] << "\"\n";
  return code;
}

}  // namespace ctl
