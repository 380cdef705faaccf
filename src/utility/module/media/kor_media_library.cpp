#include "utility/module/media/kor_media_library.h"

#include <algorithm>

#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_database_staging.h"
#include "utility/kor_listing.h"
#include "utility/kor_message.h"
#include "utility/module/media/kor_media_device_paths.h"
#include "utility/module/media/kor_media_library_reader.h"

namespace {

// Objects per stage-2 message of an item or playlist group.
constexpr size_t kBatch = 100;

bool Stage(const KorMediaCommand& command, KorStagedFile file) {
  std::lock_guard<std::mutex> lock(*command.staging_mutex);
  return KorStageFile(*command.device, command.afc, file);
}

// The media library when it stages, else the Library.itdb pair; with neither the lists stay empty.
int ReadLibrary(const KorMediaCommand& command, KorMediaLibrary* library) {
  KorSqliteDatabase db;
  if (Stage(command, KorStagedFile::kMediaLibrary)) {
    if (int rc = KorOpenDatabase(command.device->StagedPath(kKorSlotMediaLibrary), &db)) return rc;
    KorReadMediaLibrary(db, library);
    return kKorOk;
  }
  if (!Stage(command, KorStagedFile::kMusicLibrary)) {
    KLOG(WARNING) << "music library: neither MediaLibrary.sqlitedb nor Library.itdb could be staged";
    return kKorOk;
  }
  if (int rc = KorOpenDatabase(command.device->StagedPath(kKorSlotMusicLibrary), &db)) return rc;
  return KorReadLibraryItdb(db, command.device->StagedPath(kKorSlotLocations), library);
}

int SendItems(KorListing* listing, uint32_t group, const std::vector<KorMediaItem>& items) {
  listing->SetGroup(group);
  listing->SetInfo(KorCountInfo(static_cast<int64_t>(items.size())));
  if (int rc = listing->SendStage(1)) return rc;
  KorRecordBatcher batch(listing, 2, kBatch);
  for (const KorMediaItem& item : items) {
    if (int rc = batch.AddWritten([&item](std::string* text) { KorAppendMediaItemJson(item, text); })) return rc;
  }
  return batch.Flush();
}

int SendPlaylists(KorListing* listing, const std::vector<KorMediaPlaylist>& playlists) {
  listing->SetGroup(kKorMediaGroupPlaylists);
  listing->SetInfo(KorCountInfo(static_cast<int64_t>(playlists.size())));
  if (int rc = listing->SendStage(1)) return rc;
  KorRecordBatcher batch(listing, 2, kBatch);
  for (const KorMediaPlaylist& playlist : playlists) {
    if (int rc = batch.AddWritten([&playlist](std::string* text) { KorAppendPlaylistJson(playlist, text); })) {
      return rc;
    }
  }
  return batch.Flush();
}

std::string PlaylistInfo(const KorMediaPlaylist& playlist, bool exist) {
  return "{\"Playlist\":" + std::to_string(playlist.pid) + (exist ? ",\"Exist\":1" : "") +
         ",\"Count\":" + std::to_string(playlist.item_pids.size()) + "}";
}

// A stage-1 message with the playlist's info, then its item pids as one object.
int SendPlaylistItems(KorListing* listing, const KorMediaPlaylist& playlist, bool exist) {
  listing->SetGroup(kKorMediaGroupPlaylistItems);
  listing->SetInfo(PlaylistInfo(playlist, exist));
  if (int rc = listing->SendStage(1)) return rc;
  return listing->SendAttachment(2, KorPlaylistItemsJson(playlist));
}

int SendLibrary(const KorMediaCommand& command, KorMediaLibrary* library) {
  KorListing listing(command.packet, command.uuid);
  struct Group {
    uint32_t number;
    std::vector<KorMediaItem>* items;
  };
  const Group groups[] = {{kKorMediaGroupSongs, &library->songs},
                          {kKorMediaGroupMovies, &library->movies},
                          {kKorMediaGroupMusicVideos, &library->music_videos},
                          {kKorMediaGroupTvShows, &library->tv_shows}};
  for (const Group& group : groups) {
    if (listing.Stopped()) return kKorStopped;
    KorCheckItemPaths(command.afc, group.items);
    if (int rc = SendItems(&listing, group.number, *group.items)) return rc;
  }
  if (int rc = SendPlaylists(&listing, library->playlists)) return rc;
  for (const KorMediaPlaylist& playlist : library->playlists) {
    if (int rc = SendPlaylistItems(&listing, playlist, true)) return rc;
  }
  return kKorOk;
}

int64_t InfoNumber(const rapidjson::Value& json, const char* key) {
  const rapidjson::Value* info = VelJsonUtil::GetObject(json, "info");
  int64_t value = 0;
  if (info) VelJsonUtil::GetInt64(*info, key, &value);
  return value;
}

// The source 1010 reads: the media library (restaged on "refresh" or when never staged), else the
// Library.itdb pair. 18 when neither stages.
int StagePlaylistSource(const KorMediaCommand& command, KorMediaSource* source) {
  bool refresh = InfoNumber(*command.json, "refresh") != 0;
  *source = KorMediaSource::kMediaLibrary;
  if (!refresh && !command.device->StagedPath(kKorSlotMediaLibrary).empty()) return kKorOk;
  if (Stage(command, KorStagedFile::kMediaLibrary)) return kKorOk;
  KLOG(WARNING) << "ReloadMediaLibraryDb fail";
  *source = KorMediaSource::kLibraryItdb;
  if (Stage(command, KorStagedFile::kMusicLibrary)) return kKorOk;
  KLOG(WARNING) << "ReloadLibraryITDB fail";
  return kKorMediaNotStaged;
}

}  // namespace

int KorListMusicLibrary(const KorMediaCommand& command) {
  KorMediaLibrary library;
  if (int rc = ReadLibrary(command, &library)) return rc;
  return SendLibrary(command, &library);
}

int KorListPlaylistItems(const KorMediaCommand& command) {
  KorMediaSource source;
  if (int rc = StagePlaylistSource(command, &source)) return rc;
  KorSqliteDatabase db;
  KorStagedSlot slot = source == KorMediaSource::kMediaLibrary ? kKorSlotMediaLibrary : kKorSlotMusicLibrary;
  if (int rc = KorOpenDatabase(command.device->StagedPath(slot), &db)) return rc;
  std::vector<KorMediaPlaylist> playlists;
  KorReadPlaylists(db, source, &playlists);
  KorMediaPlaylist wanted;
  wanted.pid = InfoNumber(*command.json, "container_pid");
  KorListing listing(command.packet, command.uuid);
  auto found = std::find_if(playlists.begin(), playlists.end(),
                            [&wanted](const KorMediaPlaylist& playlist) { return playlist.pid == wanted.pid; });
  if (found == playlists.end()) {
    listing.SetGroup(kKorMediaGroupPlaylistItems);
    listing.SetInfo(PlaylistInfo(wanted, false));
    return listing.SendStage(1);
  }
  KorReadPlaylistItems(db, source, &*found);
  return SendPlaylistItems(&listing, *found, false);
}
