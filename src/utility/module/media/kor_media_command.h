// What every media command works with once its device is found and its file service started:
// the packet, the parsed JSON, the device, the AFC connection and the module mutex that guards
// staging. The listing functions of the media module take it.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <mutex>
#include <string>

#include "devicefw/device_framework_abi.h"
#include "ipc/ipc_packet.h"
#include "utility/kor_command.h"

class KorDevice;

// Group numbers: the packet header of a listing's messages carries one of these in place of the
// command's number.
constexpr uint32_t kKorMediaGroupRecordings = 1002;
constexpr uint32_t kKorMediaGroupRingtones = 1003;
constexpr uint32_t kKorMediaGroupSongs = 1004;
constexpr uint32_t kKorMediaGroupMovies = 1005;
constexpr uint32_t kKorMediaGroupTvShows = 1006;
constexpr uint32_t kKorMediaGroupMusicVideos = 1007;
constexpr uint32_t kKorMediaGroupBooks = 1008;
constexpr uint32_t kKorMediaGroupPlaylists = 1009;
constexpr uint32_t kKorMediaGroupPlaylistItems = 1010;

// Neither the media library nor the Library.itdb pair could be staged.
constexpr int32_t kKorMediaNotStaged = 18;
// A staged database does not open.
constexpr int32_t kKorMediaDbOpenFailed = 19;

struct KorMediaCommand {
  kst::IPCPacket* packet = nullptr;
  const KorCommandPayload* payload = nullptr;  // for commands with compressed parameters
  const rapidjson::Value* json = nullptr;      // the command's JSON object
  std::string uuid;                            // the device identifier the messages carry
  std::shared_ptr<KorDevice> device;
  AFCConnectionRef afc = nullptr;  // open on the device's "com.apple.afc" service for the command
  std::mutex* staging_mutex = nullptr;  // the module mutex: held while a file is staged
};
