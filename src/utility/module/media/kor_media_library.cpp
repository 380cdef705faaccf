#include "utility/module/media/kor_media_library.h"

#include <algorithm>

#include "platform/kst_log.h"
#include "platform/vel_json_util.h"
#include "utility/ios/kor_device.h"
#include "utility/kor_database_staging.h"
#include "utility/kor_listing.h"
#include "utility/kor_message.h"
#include "utility/module/media/kor_media_library_reader.h"
#include "utility/module/media/kor_media_path_checker.h"

namespace {

// Objects per stage-2 message of an item or playlist group.
constexpr size_t kBatch = 100;

bool Stage(const KorMediaCommand& command, KorStagedFile file) {
  std::lock_guard<std::mutex> lock(*command.staging_mutex);
  return KorStageFile(*command.device, command.afc, file);
}

// The media library when it stages, else the Library.itdb pair; with neither the lists stay empty.
// Every item's device file is looked up by `checker` from the moment its row is read.
int ReadLibrary(const KorMediaCommand& command, KorMediaPathChecker* checker, KorMediaLibrary* library) {
  KorSqliteDatabase db;
  auto seen = [checker](KorMediaItem* item) { checker->Add(item); };
  if (Stage(command, KorStagedFile::kMediaLibrary)) {
    if (int rc = KorOpenDatabase(command.device->StagedPath(kKorSlotMediaLibrary), &db)) return rc;
    KorReadMediaLibrary(db, library, seen);
    return kKorOk;
  }
  if (!Stage(command, KorStagedFile::kMusicLibrary)) {
    KLOG(WARNING) << "music library: neither MediaLibrary.sqlitedb nor Library.itdb could be staged";
    return kKorOk;
  }
  if (int rc = KorOpenDatabase(command.device->StagedPath(kKorSlotMusicLibrary), &db)) return rc;
  return KorReadLibraryItdb(db, command.device->StagedPath(kKorSlotLocations), library, seen);
}

// Each item waits for its own look-up only, so the later ones go on while a batch is sent.
int SendItems(KorListing* listing, uint32_t group, KorMediaPathChecker* checker, std::vector<KorMediaItem>* items) {
  listing->SetGroup(group);
  listing->SetInfo(KorCountInfo(static_cast<int64_t>(items->size())));
  if (int rc = listing->SendStage(1)) return rc;
  KorRecordBatcher batch(listing, 2, kBatch);
  for (KorMediaItem& item : *items) {
    checker->Apply(&item);
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

int SendLibrary(const KorMediaCommand& command, KorMediaPathChecker* checker, KorMediaLibrary* library) {
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
    if (int rc = SendItems(&listing, group.number, checker, group.items)) return rc;
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
  KorMediaPathChecker checker(command.afc, command.device->Device());
  KorMediaLibrary library;
  if (int rc = ReadLibrary(command, &checker, &library)) return rc;
  return SendLibrary(command, &checker, &library);
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
