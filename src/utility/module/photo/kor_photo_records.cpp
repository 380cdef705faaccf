#include "utility/module/photo/kor_photo_records.h"

#include <rapidjson/writer.h>

#include <cmath>

#include "platform/kst_utility_sys.h"
#include "utility/db/kor_sqlite.h"

namespace {

// Beyond this a stored date is not a date (and would not fit the conversion): shown as day zero.
constexpr double kLatestSeconds = 3.0e10;

double ColumnReal(const KorSqliteStatement& rows, int column) {
  return sqlite3_column_double(rows.Handle(), column);
}

// rapidjson's output stream over the text a record is appended to, so that a listing writes its
// records straight into the batch instead of through a buffer and a string per record.
class AppendStream {
 public:
  using Ch = char;
  explicit AppendStream(std::string* out) : out_(out) {}
  void Put(char c) { out_->push_back(c); }
  void Flush() {}

 private:
  std::string* out_;
};

using AppendWriter = rapidjson::Writer<AppendStream>;

template <typename Fill>
void AppendObject(std::string* out, Fill fill) {
  AppendStream stream(out);
  AppendWriter writer(stream);
  writer.StartObject();
  fill(writer);
  writer.EndObject();
}

}  // namespace

std::string KorPhotoDateText(double seconds_since_2001) {
  if (!std::isfinite(seconds_since_2001) || std::fabs(seconds_since_2001) > kLatestSeconds) seconds_since_2001 = 0;
  return KSTUtilitySys::Convert2001GMTtoDate(static_cast<double>(static_cast<int64_t>(seconds_since_2001)));
}

namespace {

void ReadPhotoRow(const KorSqliteStatement& rows, KorPhotoRecord* photo) {
  photo->pk = rows.Int64(0);
  photo->saved_asset_type = rows.Int64(1);
  photo->path = rows.Text(2);
  photo->orientation = rows.Int64(3);
  photo->additional_attributes = rows.Int64(4);
  photo->date_created = KorPhotoDateText(ColumnReal(rows, 5));
  photo->modification_date = KorPhotoDateText(ColumnReal(rows, 6));
  photo->original_file_size = rows.Int64(7);
}

}  // namespace

void KorReadPhotoRows(KorSqliteStatement& rows, KorPhotoQuery* query) {
  KorPhotoRecord photo;
  while (rows.Step()) {
    ReadPhotoRow(rows, &photo);
    if (query->photo_sink) {
      query->photo_sink(photo);
    } else {
      query->photos.push_back(photo);
    }
  }
}

void KorReadAlbumRows(KorSqliteStatement& rows, int type, std::vector<KorAlbumRecord>* albums) {
  while (rows.Step()) {
    KorAlbumRecord album;
    album.count = rows.Int64(0);
    if (album.count == 0) break;
    album.pk = rows.Int64(1);
    album.title = rows.Text(2);
    album.kind = rows.Int64(3);
    album.type = type;
    albums->push_back(std::move(album));
  }
}

void KorAppendPhotoJson(const KorPhotoRecord& photo, std::string* out) {
  AppendObject(out, [&](AppendWriter& writer) {
    writer.Key("PATH");
    writer.String(photo.path.c_str(), static_cast<rapidjson::SizeType>(photo.path.size()));
    writer.Key("Z_PK");
    writer.Int64(photo.pk);
    writer.Key("ZSAVEDASSETTYPE");
    writer.Int64(photo.saved_asset_type);
    writer.Key("ZORIENTATION");
    writer.Int64(photo.orientation);
    writer.Key("ZADDITIONALATTRIBUTES");
    writer.Int64(photo.additional_attributes);
    writer.Key("ZDATECREATED");
    writer.String(photo.date_created.c_str());
    writer.Key("ZMODIFICATIONDATE");
    writer.String(photo.modification_date.c_str());
    writer.Key("ZORIGINALFILESIZE");
    writer.Int64(photo.original_file_size);
  });
}

void KorAppendAlbumJson(const KorAlbumRecord& album, std::string* out) {
  AppendObject(out, [&](AppendWriter& writer) {
    writer.Key("COUNT");
    writer.Int64(album.count);
    writer.Key("Z_PK");
    writer.Int64(album.pk);
    writer.Key("TITLE");
    writer.String(album.title.c_str(), static_cast<rapidjson::SizeType>(album.title.size()));
    writer.Key("ZKIND");
    writer.Int64(album.kind);
    writer.Key("TYPE");
    writer.Int(album.type);
  });
}

std::string KorPhotoJson(const KorPhotoRecord& photo) {
  std::string text;
  KorAppendPhotoJson(photo, &text);
  return text;
}

std::string KorAlbumJson(const KorAlbumRecord& album) {
  std::string text;
  KorAppendAlbumJson(album, &text);
  return text;
}
