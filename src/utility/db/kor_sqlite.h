// SQLite over a local copy of a device database, shared by every content module.
//
// Usage:
//   KorSqliteDatabase db;
//   if (int rc = KorOpenDatabase(path, &db)) return rc;                 // 19, logged "OPEN DB: "
//   if (KorProbeTable(db, "message") != kKorTableExists) ...           // 0 / 1 / 20
//   KorProbeColumn(db, "message", "attributedBody");                  // 0 / 1 / 20
//   KorSqliteStatement rows;
//   if (int rc = KorPrepareStatement(db, "select ...", &rows)) return rc;  // 20, logged "OPEN STMT: "
//   while (rows.Step()) { rows.Int64(0); rows.Text(1); rows.Blob(2); }
//   rows.Reset(); rows.BindInt64(1, id);   // re-run a parameterised statement
// A connection belongs to one thread at a time (opened without SQLite's per-call locking).
// Connection and statement are shared owners: the last copy to go closes or finalises, so every
// early return releases both. Databases come from devices and backups and are treated as hostile:
// connections are opened in SQLite's defensive mode with untrusted schemas.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

constexpr int32_t kKorDbOpenFailed = 19;
constexpr int32_t kKorDbStatementFailed = 20;

// Results of the table probe.
constexpr int32_t kKorTableExists = 0;
constexpr int32_t kKorTableMissing = 1;

enum class KorDbOpenMode {
  kReadWrite,  // the copy may be written (SQLite folds a -wal into it); never creates a file
  kReadOnly,
};

class KorSqliteDatabase {
 public:
  KorSqliteDatabase() = default;
  sqlite3* Handle() const { return connection_.get(); }
  const std::string& Path() const { return path_; }
  explicit operator bool() const { return connection_ != nullptr; }

 private:
  friend int KorOpenDatabase(const std::string&, KorSqliteDatabase*, KorDbOpenMode);
  std::shared_ptr<sqlite3> connection_;
  std::string path_;
};

class KorSqliteStatement {
 public:
  KorSqliteStatement() = default;
  sqlite3_stmt* Handle() const { return statement_.get(); }
  explicit operator bool() const { return statement_ != nullptr; }

  // True while the statement yields a row; any other step result (done, error) ends the rows.
  bool Step();
  void Reset();
  bool BindInt64(int index, int64_t value);
  bool BindText(int index, std::string_view value);

  int64_t Int64(int column) const;
  int32_t Int(int column) const;
  double Double(int column) const;
  bool IsNull(int column) const;
  // An integer or real column as a number; nothing for NULL, text and blobs.
  std::optional<double> Real(int column) const;
  // NULL reads as the empty string.
  std::string Text(int column) const;
  // The bytes of a blob (or text) column; empty for NULL. Valid until the next Step or Reset.
  std::string_view Blob(int column) const;

 private:
  friend int KorPrepareStatement(const KorSqliteDatabase&, std::string_view, KorSqliteStatement*, bool);
  std::shared_ptr<sqlite3_stmt> statement_;
};

// Opens an existing database file; on failure logs "OPEN DB: " + path + " RES: " + SQLite code at
// error severity and answers 19.
int KorOpenDatabase(const std::string& path, KorSqliteDatabase* database,
                    KorDbOpenMode mode = KorDbOpenMode::kReadWrite);

// Prepares `sql` (its full length); on failure logs "OPEN STMT: " + path + " SQL: " + sql + " RES: "
// + SQLite code at error severity and answers 20. `v2` picks sqlite3_prepare_v2, which re-prepares
// on schema changes; the plain form is the default.
int KorPrepareStatement(const KorSqliteDatabase& database, std::string_view sql, KorSqliteStatement* statement,
                        bool v2 = false);

// Whether a table exists: kKorTableExists, kKorTableMissing, or 20 when the probe cannot be
// prepared (logged "OPEN STMT SQL: ").
int KorProbeTable(const KorSqliteDatabase& database, const std::string& table);

// Whether a table has a column: kKorTableExists, kKorTableMissing (no such column or table), or 20.
int KorProbeColumn(const KorSqliteDatabase& database, std::string_view table, std::string_view column);

// The probe's SQL text for a table name.
std::string KorTableProbeSql(const std::string& table);
