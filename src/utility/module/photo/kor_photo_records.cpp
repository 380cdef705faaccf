#include "utility/module/photo/kor_photo_records.h"

#include <cmath>

#include "platform/kst_utility_sys.h"
#include "utility/db/kor_sqlite.h"
#include "utility/kor_json_record.h"

namespace {

// Beyond this a stored date is not a date (and would not fit the conversion): shown as day zero.
constexpr double kLatestSeconds = 3.0e10;

double ColumnReal(const KorSqliteStatement& rows, int column) {
  return sqlite3_column_double(rows.Handle(), column);
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
  KorJsonWriter& writer = KorStartJsonObject();
  KorJsonMember(&writer, "PATH", photo.path);
  KorJsonMember(&writer, "Z_PK", photo.pk);
  KorJsonMember(&writer, "ZSAVEDASSETTYPE", photo.saved_asset_type);
  KorJsonMember(&writer, "ZORIENTATION", photo.orientation);
  KorJsonMember(&writer, "ZADDITIONALATTRIBUTES", photo.additional_attributes);
  KorJsonMember(&writer, "ZDATECREATED", photo.date_created);
  KorJsonMember(&writer, "ZMODIFICATIONDATE", photo.modification_date);
  KorJsonMember(&writer, "ZORIGINALFILESIZE", photo.original_file_size);
  KorFinishJsonObject(out);
}

void KorAppendAlbumJson(const KorAlbumRecord& album, std::string* out) {
  KorJsonWriter& writer = KorStartJsonObject();
  KorJsonMember(&writer, "COUNT", album.count);
  KorJsonMember(&writer, "Z_PK", album.pk);
  KorJsonMember(&writer, "TITLE", album.title);
  KorJsonMember(&writer, "ZKIND", album.kind);
  KorJsonMember(&writer, "TYPE", int64_t{album.type});
  KorFinishJsonObject(out);
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
