#include "utility/module/media/kor_media_records.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdio>

#include "utility/db/kor_sqlite.h"
#include "utility/module/sms/kor_sms_date.h"

namespace {

constexpr int64_t kUnixOfAppleEpoch = 978307200;

// The media library keeps modification times as Unix seconds; 0 means never set.
std::string ModifiedDate(int64_t raw) {
  if (raw <= kUnixOfAppleEpoch) return std::string();
  return KorAppleDateString(raw - kUnixOfAppleEpoch);
}

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void Member(Writer* writer, const char* key, const std::string& value) {
  writer->Key(key);
  writer->String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
}

void Member(Writer* writer, const char* key, int64_t value) {
  writer->Key(key);
  writer->Int64(value);
}

// One buffer and writer per thread, emptied for each object: a long listing writes tens of
// thousands of objects, and a fresh pair allocates twice per object.
struct ReusedWriter {
  rapidjson::StringBuffer buffer;
  Writer writer{buffer};

  void AppendTo(std::string* out) const { out->append(buffer.GetString(), buffer.GetSize()); }
};

ReusedWriter& StartObject() {
  thread_local ReusedWriter reused;
  reused.buffer.Clear();
  reused.writer.Reset(reused.buffer);
  reused.writer.StartObject();
  return reused;
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
  ReusedWriter& reused = StartObject();
  Writer& writer = reused.writer;
  Member(&writer, "item_pid", item.item_pid);
  Member(&writer, "title", item.title);
  Member(&writer, "total_time_ms", KorMediaDuration(item.total_time_ms));
  Member(&writer, "total_time_ms_int", static_cast<int64_t>(item.total_time_ms));
  Member(&writer, "media_kind", item.media_kind);
  Member(&writer, "media_type", item.media_type);
  Member(&writer, "comment", item.comment);
  Member(&writer, "description_long", item.description_long);
  Member(&writer, "copyright", item.copyright);
  Member(&writer, "year", int64_t{item.year});
  Member(&writer, "date_modified", ModifiedDate(item.date_modified));
  Member(&writer, "date_modified_int", item.date_modified);
  Member(&writer, "album", item.album);
  Member(&writer, "album_pid", item.album_pid);
  Member(&writer, "artist", item.artist);
  Member(&writer, "item_artist_pid", item.artist_pid);
  Member(&writer, "genre", item.genre);
  Member(&writer, "genre_id", item.genre_id);
  Member(&writer, "path", item.path);
  Member(&writer, "file_size", item.file_size);
  writer.EndObject();
  reused.AppendTo(out);
}

void KorAppendPlaylistJson(const KorMediaPlaylist& playlist, std::string* out) {
  ReusedWriter& reused = StartObject();
  Writer& writer = reused.writer;
  Member(&writer, "container_pid", playlist.pid);
  Member(&writer, "name", playlist.name);
  Member(&writer, "container_media_type", playlist.media_type);
  Member(&writer, "parent_pid", playlist.parent_pid);
  Member(&writer, "smart_is_folder", int64_t{playlist.smart_is_folder});
  writer.EndObject();
  reused.AppendTo(out);
}

std::string KorPlaylistItemsJson(const KorMediaPlaylist& playlist) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  Member(&writer, "Playlist", playlist.pid);
  writer.Key("item_pids");
  writer.StartArray();
  for (int64_t pid : playlist.item_pids) writer.Int64(pid);
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}
