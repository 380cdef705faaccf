#include "utility/module/photo/kor_photo_query_core_data.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include <re2/re2.h>

#include "platform/kst_log.h"
#include "utility/db/kor_sqlite.h"
#include "utility/kor_sql_regexp.h"
#include "utility/module/photo/kor_photo_version.h"

namespace {

constexpr int kNoJoinTable = 1;
constexpr const char* kJoinTablePattern = "Z_[0-9]+ASSETS";
constexpr const char* kPhotoColumns =
    "SELECT a.Z_PK,a.ZSAVEDASSETTYPE,a.ZDIRECTORY || '/'||a.ZFILENAME,a.ZORIENTATION, a.ZADDITIONALATTRIBUTES,"
    "a.ZDATECREATED,a.ZMODIFICATIONDATE, t.ZORIGINALFILESIZE FROM ";
constexpr const char* kNotTrashed = " AND a.ZTRASHEDSTATE = 0";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The upper-cased first column of the first row ("" when there is none); 0 or the prepare failure.
int ReadDefinition(const KorSqliteDatabase& db, const std::string& sql, std::string* definition) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, sql, &rows)) return rc;
  definition->clear();
  if (rows.Step()) *definition = Upper(rows.Text(0));
  return 0;
}

int AssetDefinition(const KorSqliteDatabase& db, const std::string& table, std::string* definition) {
  return ReadDefinition(db, " SELECT sql from sqlite_master where  type=\"table\" AND name='" + table + "'",
                        definition);
}

bool Has(const std::string& definition, const char* column) { return definition.find(column) != std::string::npos; }

// "SELECT ... FROM <assets> a left join ZADDITIONALASSETATTRIBUTES t ... WHERE 1=1".
std::string PhotoBase(const std::string& asset_table) {
  return kPhotoColumns + asset_table + " a left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = a.Z_PK WHERE 1=1";
}

// The album-to-asset join table J and the number n after its "Z_".
struct JoinTable {
  std::string name;
  int number = 0;
};

int FindJoinTable(const KorSqliteDatabase& db, JoinTable* join) {
  KorRegisterRegexp(db.Handle());
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(
          db, "SELECT name FROM sqlite_master WHERE type=\"table\" AND name REGEXP \"Z_[0-9]+ASSETS\"", &rows)) {
    return rc;
  }
  if (!rows.Step()) return kNoJoinTable;
  join->name = rows.Text(0);
  join->number = join->name.size() > 2 ? std::atoi(join->name.c_str() + 2) : 0;
  return 0;
}

// The second "Z_<n>ASSETS" of the join table's definition: its asset column ("" when missing).
std::string AssetColumnFromDefinition(const std::string& definition) {
  // A linear-time scan: the definition is text of a database the device wrote.
  static const RE2 kPattern(std::string("(") + kJoinTablePattern + ")");
  re2::StringPiece rest(definition);
  std::string match;
  for (int index = 1; RE2::FindAndConsume(&rest, kPattern, &match); ++index) {
    if (index == 2) return match;
  }
  return std::string();
}

std::string AlbumColumn(int number) { return "z_" + std::to_string(number) + "albums"; }

int ListAssets(const KorSqliteDatabase& db, const std::string& sql, KorPhotoQuery* query) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, sql, &rows)) return rc;
  KorReadPhotoRows(rows, query);
  return 0;
}

// Runs one album query; a failure is logged and skips that album type.
void ListAlbums(const KorSqliteDatabase& db, const std::string& sql, int type, KorPhotoQuery* query) {
  KorSqliteStatement rows;
  if (int rc = KorPrepareStatement(db, sql, &rows)) {
    KLOG(ERROR) << "GetAlbumListFromQueryDb_2 Fail: " << query->path << " SQL: " << sql << " RES: " << rc;
    return;
  }
  KorReadAlbumRows(rows, type, &query->albums);
}

struct AlbumJoin {
  std::string asset_table;
  JoinTable join;
  std::string asset_column;  // K
  bool album_trashed_state = false;
  bool asset_trashed_state = false;
};

std::string JoinedAlbumSql(const AlbumJoin& a, const std::string& condition) {
  return "SELECT count(0),al.z_pk,al.ztitle,al.zkind FROM ZGENERICALBUM al," + a.join.name + " z" + " left join " +
         a.asset_table + " zg on z." + a.asset_column + " = zg.z_pk left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = z." +
         a.asset_column + condition + " AND z." + AlbumColumn(a.join.number) + " = al.z_pk" +
         (a.album_trashed_state ? " AND  al.ZTRASHEDSTATE = 0" : "") +
         (a.asset_trashed_state ? " AND  zg.ZTRASHEDSTATE = 0" : "") + " group by al.z_pk ";
}

std::string Fill(const char* format_head, const std::string& table, const char* tail) {
  return std::string(format_head) + table + tail;
}

void ListSpecialAlbums(const KorSqliteDatabase& db, const std::string& table, KorPhotoQuery* query) {
  std::string definition;
  if (AssetDefinition(db, table, &definition) != 0) return;
  bool trashed = Has(definition, "ZTRASHEDSTATE");
  std::string live = trashed ? " AND ZTRASHEDSTATE = 0" : "";
  const char* head = "SELECT count(0),0,'',0 FROM ";
  if (Has(definition, "ZFAVORITE")) {
    ListAlbums(db, Fill(head, table, " WHERE zfavorite = 1") + live, kKorAlbumFavorites, query);
  }
  if (Has(definition, "ZKINDSUBTYPE")) {
    ListAlbums(db, Fill(head, table, " WHERE ZKINDSUBTYPE = 10") + live, kKorAlbumScreenshots, query);
    ListAlbums(db, Fill(head, table, " WHERE ZSAVEDASSETTYPE = 256") + live, kKorAlbumSaved, query);
  }
  ListAlbums(db, Fill(head, table, " WHERE ZKIND = 1") + live, kKorAlbumVideos, query);
  if (trashed) {
    ListAlbums(db,
               Fill(" SELECT count(0),0,'',0 FROM ", table,
                    " a left join ZADDITIONALASSETATTRIBUTES t ON t.Z_PK = a.Z_PK WHERE 1= 1") +
                   " AND a.ZTRASHEDSTATE = 1",
               kKorAlbumRecentlyDeleted, query);
  }
  ListAlbums(db,
             Fill(" SELECT count(0),0,'',0 FROM ", table,
                  " WHERE ZPLAYBACKSTYLE = 3 and ZTRASHEDSTATE=0 and ZSAVEDASSETTYPE != 8"),
             kKorAlbumLivePhotos, query);
  ListAlbums(db,
             Fill(" SELECT count(0),0,'',0 FROM ", table,
                  " WHERE ZPLAYBACKSTYLE = 1 and ZAVALANCHEPICKTYPE = 52 and ZTRASHEDSTATE=0"),
             kKorAlbumBursts, query);
}

// The filter of a special album's photos; false for a type without one.
bool SpecialAlbumFilter(int type, bool trashed_state, std::string* filter) {
  switch (type) {
    case kKorAlbumFavorites: *filter = " AND zfavorite = 1"; break;
    case kKorAlbumScreenshots: *filter = " AND ZKINDSUBTYPE == 10"; break;
    case kKorAlbumSaved: *filter = " AND ZSAVEDASSETTYPE = 256"; break;
    case kKorAlbumRecentlyDeleted:
      if (!trashed_state) return false;
      *filter = " AND a.ZTRASHEDSTATE = 1";
      return true;
    case kKorAlbumVideos: *filter = " AND ZKIND == 1"; break;
    case kKorAlbumLivePhotos: *filter = " AND ZPLAYBACKSTYLE = 3 AND ZSAVEDASSETTYPE != 8"; break;
    case kKorAlbumBursts: *filter = " AND ZPLAYBACKSTYLE = 1 and ZAVALANCHEPICKTYPE = 52"; break;
    default: return false;
  }
  if (trashed_state) *filter += kNotTrashed;
  return true;
}

// K for the photos of an album: the join table's column whose whole name is "Z_<n>ASSETS".
int AssetColumnFromNames(const KorSqliteDatabase& db, const std::string& join, std::string* column) {
  KorSqliteStatement probe;
  if (int rc = KorPrepareStatement(db, "select * from " + join + " limit 0", &probe, true)) return rc;
  int count = sqlite3_column_count(probe.Handle());
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(probe.Handle(), i);
    if (name && KorRegexpSearch(std::string("^") + kJoinTablePattern + "$", name) == 1) {
      *column = name;
      return 0;
    }
  }
  return kNoJoinTable;
}

}  // namespace

std::string KorAssetTableFor(const std::string& product_version) {
  return KorCompareDottedVersion(product_version, "14") < 0 ? "ZGENERICASSET" : "ZASSET";
}

int KorCoreDataPhotoList(KorPhotoQuery* query) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(query->path, &db)) return rc;
  std::string table = KorAssetTableFor(query->product_version);
  std::string definition;
  if (int rc = AssetDefinition(db, table, &definition)) return rc;
  std::string sql = PhotoBase(table);
  if (Has(definition, "ZTRASHEDSTATE")) sql += kNotTrashed;
  return ListAssets(db, sql + " ORDER BY ZDATECREATED desc", query);
}

int KorCoreDataAlbumList(KorPhotoQuery* query) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(query->path, &db)) return rc;
  AlbumJoin a;
  a.asset_table = KorAssetTableFor(query->product_version);
  if (int rc = FindJoinTable(db, &a.join)) return rc;
  std::string album_definition;
  std::string asset_definition;
  std::string join_definition;
  if (int rc = ReadDefinition(db, " SELECT sql from sqlite_master WHERE  type=\"table\" AND name='ZGENERICALBUM'",
                              &album_definition)) {
    return rc;
  }
  if (int rc = AssetDefinition(db, a.asset_table, &asset_definition)) return rc;
  if (int rc = ReadDefinition(db, " SELECT sql from sqlite_master WHERE  type=\"table\" AND name='" + a.join.name + "'",
                              &join_definition)) {
    return rc;
  }
  a.album_trashed_state = Has(album_definition, "ZTRASHEDSTATE");
  a.asset_trashed_state = Has(asset_definition, "ZTRASHEDSTATE");
  a.asset_column = AssetColumnFromDefinition(join_definition);
  if (a.asset_column.empty()) {
    KLOG(ERROR) << "GetAlbumListFromQueryDb: " << a.join.name << " has no asset column in " << query->path;
    return kNoJoinTable;
  }
  ListAlbums(db, JoinedAlbumSql(a, std::string(" WHERE") + " al.zkind ==" + "1000"), kKorAlbumKind1000, query);
  ListSpecialAlbums(db, a.asset_table, query);
  ListAlbums(db, JoinedAlbumSql(a, std::string(" WHERE al.ztitle is not null") + " AND al.zkind !=" + "1000"),
             kKorAlbumUser, query);
  return 0;
}

int KorCoreDataAlbumPhotos(KorPhotoQuery* query) {
  KorSqliteDatabase db;
  if (int rc = KorOpenDatabase(query->path, &db)) return rc;
  JoinTable join;
  if (int rc = FindJoinTable(db, &join)) return rc;
  std::string column;
  if (int rc = AssetColumnFromNames(db, join.name, &column)) return rc;
  std::string table = KorAssetTableFor(query->product_version);
  std::string definition;
  if (int rc = AssetDefinition(db, table, &definition)) return rc;
  bool trashed_state = Has(definition, "ZTRASHEDSTATE");
  if (query->album_type == kKorAlbumUser || query->album_type == kKorAlbumKind1000) {
    std::string sql = std::string(" ") + kPhotoColumns + table +
                      " a left join ZADDITIONALASSETATTRIBUTES t on t.Z_PK = a.Z_PK," + join.name +
                      " z WHERE a.Z_pk = z." + column + " AND z." + AlbumColumn(join.number) + "=" +
                      std::to_string(query->album_id);
    return ListAssets(db, trashed_state ? sql + kNotTrashed : sql, query);
  }
  std::string filter;
  if (!SpecialAlbumFilter(query->album_type, trashed_state, &filter)) return 0;  // an album that cannot exist is empty
  return ListAssets(db, PhotoBase(table) + filter, query);
}
