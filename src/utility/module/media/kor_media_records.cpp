#include "utility/module/media/kor_media_records.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdio>

#include "utility/db/kor_sqlite.h"
#include "utility/kor_json_record.h"
#include "utility/module/sms/kor_sms_date.h"

namespace {

constexpr int64_t kUnixOfAppleEpoch = 978307200;

// The media library keeps modification times as Unix seconds; 0 means never set.
std::string ModifiedDate(int64_t raw) {
  if (raw <= kUnixOfAppleEpoch) return std::string();
  return KorAppleDateString(raw - kUnixOfAppleEpoch);
}

}  // namespace

bool KorReadMediaRow(const KorSqliteStatement& row, KorMediaItem* item) {
  item->total_time_ms = row.Double(9);
  if (item->total_time_ms == 0) return false;
  item->media_kind = row.Int64(0);
  item->item_pid = row.Int64(1);
  item->file_size = row.Int64(2);
  item->year = row.Int(3);
  item->date_modified = row.Int64(4);
  item->comment = row.Text(5);
  item->description_long = row.Text(6);
  item->copyright = row.Text(7);
  item->title = row.Text(8);
  item->media_type = row.Int64(10);
  item->album = row.Text(11);
  item->album_pid = row.Int64(12);
  item->artist = row.Text(13);
  item->artist_pid = row.Int64(14);
  item->genre = row.Text(15);
  item->genre_id = row.Int64(16);
  item->path = row.Text(17);
  return true;
}

std::string KorMediaDuration(double milliseconds) {
  double rounded = std::floor(milliseconds / 1000.0 + 0.5);
  // Bounded so that a hostile value cannot overflow the conversion.
  int64_t seconds = rounded > 0 && rounded < 1e12 ? static_cast<int64_t>(rounded) : 0;
  int64_t hours = seconds / 3600;
  int64_t minutes = seconds % 3600 / 60;
  char text[48];
  if (hours != 0) {
    std::snprintf(text, sizeof(text), "%.2lld:%.2lld:%.2lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof(text), "%.2lld:%.2lld", static_cast<long long>(minutes),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

void KorAppendMediaItemJson(const KorMediaItem& item, std::string* out) {
  KorJsonWriter& writer = KorStartJsonObject();
  KorJsonMember(&writer, "item_pid", item.item_pid);
  KorJsonMember(&writer, "title", item.title);
  KorJsonMember(&writer, "total_time_ms", KorMediaDuration(item.total_time_ms));
  KorJsonMember(&writer, "total_time_ms_int", static_cast<int64_t>(item.total_time_ms));
  KorJsonMember(&writer, "media_kind", item.media_kind);
  KorJsonMember(&writer, "media_type", item.media_type);
  KorJsonMember(&writer, "comment", item.comment);
  KorJsonMember(&writer, "description_long", item.description_long);
  KorJsonMember(&writer, "copyright", item.copyright);
  KorJsonMember(&writer, "year", int64_t{item.year});
  KorJsonMember(&writer, "date_modified", ModifiedDate(item.date_modified));
  KorJsonMember(&writer, "date_modified_int", item.date_modified);
  KorJsonMember(&writer, "album", item.album);
  KorJsonMember(&writer, "album_pid", item.album_pid);
  KorJsonMember(&writer, "artist", item.artist);
  KorJsonMember(&writer, "item_artist_pid", item.artist_pid);
  KorJsonMember(&writer, "genre", item.genre);
  KorJsonMember(&writer, "genre_id", item.genre_id);
  KorJsonMember(&writer, "path", item.path);
  KorJsonMember(&writer, "file_size", item.file_size);
  KorFinishJsonObject(out);
}

void KorAppendPlaylistJson(const KorMediaPlaylist& playlist, std::string* out) {
  KorJsonWriter& writer = KorStartJsonObject();
  KorJsonMember(&writer, "container_pid", playlist.pid);
  KorJsonMember(&writer, "name", playlist.name);
  KorJsonMember(&writer, "container_media_type", playlist.media_type);
  KorJsonMember(&writer, "parent_pid", playlist.parent_pid);
  KorJsonMember(&writer, "smart_is_folder", int64_t{playlist.smart_is_folder});
  KorFinishJsonObject(out);
}

std::string KorPlaylistItemsJson(const KorMediaPlaylist& playlist) {
  rapidjson::StringBuffer buffer;
  KorJsonWriter writer(buffer);
  writer.StartObject();
  KorJsonMember(&writer, "Playlist", playlist.pid);
  writer.Key("item_pids");
  writer.StartArray();
  for (int64_t pid : playlist.item_pids) writer.Int64(pid);
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}
