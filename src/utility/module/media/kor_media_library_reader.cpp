#include "utility/module/media/kor_media_library_reader.h"

#include <sqlite3.h>

#include <unordered_map>

#include "platform/kst_log.h"
#include "utility/kor_message.h"

namespace {

const char kMediaItemsSql[] =
    "select media_kind,i.item_pid, file_size, year,date_modified,comment,description_long,copyright,title,"
    "total_time_ms, i.media_type, a.album,a.album_pid, ia.item_artist,ia.item_artist_pid, g.genre,g.genre_id, "
    "bl.path || '/' || ie.location,bl.base_location_id from item as i left join item_extra as ie on ie.item_pid = "
    "i.item_pid left join album as a on a.album_pid = i.album_pid left join item_artist as ia on "
    "ia.item_artist_pid = i.item_artist_pid\t left join genre as g on g.genre_id = i.genre_id left join "
    "base_location as bl on bl.base_location_id = i.base_location_id"
    " order by title COLLATE NOCASE asc";

const char kItdbItemsSql[] =
    "SELECT media_kind,pid,0 as file_size,year,date_modified, comment,description_long,copyright,title, "
    "total_time_ms,0 as media_type,album,0 album_pid,artist,0 as artist_pid, gm.genre,genre_id,null as path from "
    "item left join genre_map gm on genre_id = gm.id"
    " order by title COLLATE NOCASE asc";

const char kItdbLocationsSql[] =
    "SELECT item_pid,a.path || '/' || b.location as lpath, b.file_size FROM base_location as a,location as b WHERE "
    "a.id = b.base_location_id AND lpath is not null";

// Newer media libraries name the playlist's media type "contained_media_type" and keep unnamed
// containers; older ones call it "media_kinds".
const char kPlaylistsSql[] =
    " SELECT container.container_pid,container.name,container.contained_media_type, container.parent_pid, "
    "container.smart_is_folder FROM container WHERE container.container_pid NOT IN  (SELECT primary_container_pid "
    "FROM db_info) AND container.is_hidden = 0 and name is not null";
const char kOlderPlaylistsSql[] =
    " SELECT container.container_pid,container.name,container.media_kinds, container.parent_pid, "
    "container.smart_is_folder FROM container  WHERE container.container_pid NOT IN (SELECT primary_container_pid "
    "FROM db_info) AND container.is_hidden = 0";
const char kItdbPlaylistsSql[] =
    "SELECT container.pid,container.name,container.media_kinds, container.parent_pid,container.smart_is_folder "
    "FROM container  WHERE container.pid NOT IN (SELECT primary_container_pid FROM db_info) AND "
    "container.is_hidden = 0";

const char kPlaylistItemsSql[] = "SELECT item_pid FROM container_item where container_pid = ?";
const char kItdbPlaylistItemsSql[] = "SELECT item_pid FROM item_to_container where container_pid = ?";

constexpr int64_t kKindMovie = 2;
constexpr int64_t kKindMusicVideo = 33;
constexpr int64_t kKindTvShow = 64;
constexpr int64_t kItdbKindSong = 1;

// Prepares a reader's statement; a failure is logged with the reader's prefix as well.
bool Prepare(const KorSqliteDatabase& db, const char* sql, const char* reader, KorSqliteStatement* statement) {
  if (KorPrepareStatement(db, sql, statement) == kKorOk) return true;
  KLOG(ERROR) << "OPEN STMT " << reader << ": " << db.Path();
  return false;
}

void FileMediaLibraryItem(KorMediaItem item, KorMediaLibrary* library) {
  switch (item.media_kind) {
    case kKindMovie:
      library->movies.push_back(std::move(item));
      break;
    case kKindMusicVideo:
      library->music_videos.push_back(std::move(item));
      break;
    case kKindTvShow:
      library->tv_shows.push_back(std::move(item));
      break;
    default:
      library->songs.push_back(std::move(item));
      break;
  }
}

// The older library lists songs, movies and TV shows only.
void FileItdbItem(KorMediaItem item, KorMediaLibrary* library) {
  if (item.media_kind & kKindTvShow) {
    library->tv_shows.push_back(std::move(item));
  } else if (item.media_kind == kItdbKindSong) {
    library->songs.push_back(std::move(item));
  } else if (item.media_kind == kKindMovie) {
    library->movies.push_back(std::move(item));
  }
}

void LogCounts(const char* reader, const KorMediaLibrary& library) {
  KLOG(INFO) << reader << ": " << " songs: " << library.songs.size() << " movies: " << library.movies.size()
             << " music_video: " << library.music_videos.size() << " tvshow: " << library.tv_shows.size();
}

struct Location {
  std::string path;
  int64_t file_size = 0;
};

std::unordered_map<int64_t, Location> ReadLocations(const KorSqliteDatabase& db) {
  std::unordered_map<int64_t, Location> locations;
  KorSqliteStatement rows;
  if (!Prepare(db, kItdbLocationsSql, "QueryLibraryITDB", &rows)) return locations;
  while (rows.Step()) locations[rows.Int64(0)] = Location{rows.Text(1), rows.Int64(2)};
  return locations;
}

void PreparePlaylistsOfMediaLibrary(const KorSqliteDatabase& db, KorSqliteStatement* rows) {
  if (KorPrepareStatement(db, kPlaylistsSql, rows) != kKorOk) {
    KLOG(ERROR) << "OPEN STMT QueryMSongPlaylist: " << db.Path() << " SQL1: " << kPlaylistsSql
                << " RES: " << sqlite3_errcode(db.Handle());
    if (KorPrepareStatement(db, kOlderPlaylistsSql, rows) != kKorOk) {
      KLOG(ERROR) << "OPEN STMT QueryMSongPlaylist: " << db.Path() << " SQL2: " << kOlderPlaylistsSql
                  << " RES: " << kKorDbStatementFailed;
    }
  }
}

}  // namespace

void KorReadPlaylists(const KorSqliteDatabase& db, KorMediaSource source, std::vector<KorMediaPlaylist>* playlists) {
  KorSqliteStatement rows;
  if (source == KorMediaSource::kMediaLibrary) {
    PreparePlaylistsOfMediaLibrary(db, &rows);
  } else {
    Prepare(db, kItdbPlaylistsSql, "QueryLibraryITDB", &rows);
  }
  if (!rows) return;
  while (rows.Step()) {
    KorMediaPlaylist playlist;
    playlist.pid = rows.Int64(0);
    playlist.name = rows.Text(1);
    playlist.media_type = rows.Int64(2);
    playlist.parent_pid = rows.Int64(3);
    playlist.smart_is_folder = rows.Int(4);
    playlists->push_back(std::move(playlist));
  }
  KLOG(INFO) << "QueryMSongPlaylist: " << db.Path() << " playlists: " << playlists->size();
}

void KorReadPlaylistItems(const KorSqliteDatabase& db, KorMediaSource source, KorMediaPlaylist* playlist) {
  KorReadAllPlaylistItems(db, source, playlist, playlist + 1);
}

void KorReadAllPlaylistItems(const KorSqliteDatabase& db, KorMediaSource source, KorMediaPlaylist* begin,
                             KorMediaPlaylist* end) {
  if (begin == end) return;
  KorSqliteStatement rows;
  const char* sql = source == KorMediaSource::kMediaLibrary ? kPlaylistItemsSql : kItdbPlaylistItemsSql;
  if (KorPrepareStatement(db, sql, &rows) != kKorOk) return;
  for (KorMediaPlaylist* playlist = begin; playlist != end; ++playlist) {
    rows.Reset();
    rows.BindInt64(1, playlist->pid);
    while (rows.Step()) playlist->item_pids.push_back(rows.Int64(0));
  }
}

void KorReadMediaLibrary(const KorSqliteDatabase& db, KorMediaLibrary* library, const KorMediaItemSeen& seen) {
  KorSqliteStatement rows;
  if (Prepare(db, kMediaItemsSql, "QueryMediaLibrary", &rows)) {
    KorMediaItem item;
    while (rows.Step()) {
      if (!KorReadMediaRow(rows, &item)) continue;
      if (seen) seen(&item);
      FileMediaLibraryItem(std::move(item), library);
    }
  }
  LogCounts("QueryMediaLibrary", *library);
  KorReadPlaylists(db, KorMediaSource::kMediaLibrary, &library->playlists);
  auto& playlists = library->playlists;
  KorReadAllPlaylistItems(db, KorMediaSource::kMediaLibrary, playlists.data(), playlists.data() + playlists.size());
}

int KorReadLibraryItdb(const KorSqliteDatabase& library_db, const std::string& locations_path,
                       KorMediaLibrary* library, const KorMediaItemSeen& seen) {
  KorSqliteDatabase locations_db;
  if (int rc = KorOpenDatabase(locations_path, &locations_db)) return rc;
  std::unordered_map<int64_t, Location> locations = ReadLocations(locations_db);
  KorSqliteStatement rows;
  if (Prepare(library_db, kItdbItemsSql, "QueryLibraryITDB", &rows)) {
    KorMediaItem item;
    while (rows.Step()) {
      auto location = locations.find(rows.Int64(1));
      if (location == locations.end() || !KorReadMediaRow(rows, &item)) continue;
      item.path = location->second.path;
      item.file_size = location->second.file_size;
      if (seen) seen(&item);
      FileItdbItem(std::move(item), library);
    }
  }
  LogCounts("QueryLibraryITDB", *library);
  KorReadPlaylists(library_db, KorMediaSource::kLibraryItdb, &library->playlists);
  auto& playlists = library->playlists;
  KorReadAllPlaylistItems(library_db, KorMediaSource::kLibraryItdb, playlists.data(), playlists.data() + playlists.size());
  return kKorOk;
}
