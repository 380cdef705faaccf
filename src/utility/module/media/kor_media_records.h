// The records of the music-library listing and their JSON objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class KorSqliteStatement;

// One row of an item query (both library sources select the same 18 columns).
struct KorMediaItem {
  int64_t item_pid = 0;
  int64_t media_kind = 0;
  int64_t media_type = 0;
  int64_t file_size = 0;
  int32_t year = 0;
  int64_t date_modified = 0;  // raw, as the database holds it
  std::string comment;
  std::string description_long;
  std::string copyright;
  std::string title;
  double total_time_ms = 0;
  std::string album;
  int64_t album_pid = 0;
  std::string artist;
  int64_t artist_pid = 0;
  std::string genre;
  int64_t genre_id = 0;
  std::string path;  // device path
  size_t path_ticket = SIZE_MAX;  // the look-up of its device file, once one is queued
};

struct KorMediaPlaylist {
  int64_t pid = 0;
  std::string name;
  int64_t media_type = 0;
  int64_t parent_pid = 0;
  int32_t smart_is_folder = 0;
  std::vector<int64_t> item_pids;
};

struct KorMediaLibrary {
  std::vector<KorMediaItem> songs;
  std::vector<KorMediaItem> movies;
  std::vector<KorMediaItem> music_videos;
  std::vector<KorMediaItem> tv_shows;
  std::vector<KorMediaPlaylist> playlists;
};

// Reads the current row of an item query. False for a row whose total time is 0 (an item that
// cannot be played, such as a broken download): such rows are not listed.
bool KorReadMediaRow(const KorSqliteStatement& row, KorMediaItem* item);

// Milliseconds as "MM:SS", or "HH:MM:SS" from one hour on, rounded to the nearest second.
std::string KorMediaDuration(double milliseconds);

// The JSON objects, appended to `out`.
void KorAppendMediaItemJson(const KorMediaItem& item, std::string* out);
void KorAppendPlaylistJson(const KorMediaPlaylist& playlist, std::string* out);
// {"Playlist":P,"item_pids":[...]}
std::string KorPlaylistItemsJson(const KorMediaPlaylist& playlist);
