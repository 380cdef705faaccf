#include "utility/module/photo/kor_photo_query_oldest.h"

#include "utility/db/kor_sqlite.h"

namespace {

constexpr const char* kPhotoListSql =
    "SELECT p.primaryKey,p.type,p.directory || '/' || p.filename,p.orientation, 0 as ZADDITIONALATTRIBUTES,"
    "p.captureTime,p.recordModDate,0 as ZORIGINALFILESIZE  FROM Photo p WHERE p.filename is not null";
constexpr const char* kAlbumHeadSql =
    "SELECT count(0),al.primaryKey,al.title,al.kind FROM PhotoAlbum al,PhotoAlbumToPhotoJoin z_16 WHERE z_16.left = "
    "al.primaryKey";
constexpr const char* kAlbumPhotosSql =
    "select p.primaryKey,p.type,p.directory || '/' || p.filename,p.orientation, 0 as ZADDITIONALATTRIBUTES,"
    "p.captureTime,p.recordModDate,0 as ZORIGINALFILESIZE  from Photo p,PhotoAlbumToPhotoJoin pp where p.filename "
    "is not null and pp.right = p.primaryKey and pp.left =";

int RunPhotoQuery(KorPhotoQuery* query, const std::string& sql) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(query->path, &db)) return rc;
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, sql, &rows)) return rc;
  KorReadPhotoRows(rows, query);
  return 0;
}

int RunAlbumQuery(const KorSqliteDatabase& db, const std::string& sql, int type, KorPhotoQuery* query) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, sql, &rows)) return rc;
  KorReadAlbumRows(rows, type, &query->albums);
  return 0;
}

}  // namespace

int KorOldestPhotoList(KorPhotoQuery* query) { return RunPhotoQuery(query, kPhotoListSql); }

int KorOldestAlbumList(KorPhotoQuery* query) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(query->path, &db)) return rc;
  std::string head = kAlbumHeadSql;
  std::string kind_1000 = head + " AND al.kind == 1000" + " GROUP BY al.primaryKey ";
  std::string user = head + " AND al.kind != 1000" + " AND al.title is not null" + " GROUP BY al.primaryKey ";
  if (int rc = RunAlbumQuery(db, kind_1000, kKorAlbumKind1000, query)) return rc;
  return RunAlbumQuery(db, user, kKorAlbumUser, query);
}

int KorOldestAlbumPhotos(KorPhotoQuery* query) {
  return RunPhotoQuery(query, kAlbumPhotosSql + std::to_string(query->album_id));
}
