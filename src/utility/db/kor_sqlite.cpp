#include "utility/db/kor_sqlite.h"

#include <limits>

#include "platform/kst_log.h"

namespace {

// Hostile files must not run schema-defined code with side effects, nor be able to corrupt the
// connection through writable shadow tables.
void HardenConnection(sqlite3* connection) {
  sqlite3_db_config(connection, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(connection, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_limit(connection, SQLITE_LIMIT_ATTACHED, 0);
}

}  // namespace

int KorOpenDatabase(const std::string& path, KorSqliteDatabase* database, KorDbOpenMode mode) {
  *database = KorSqliteDatabase();
  // A connection serves one task thread at a time, so SQLite's own per-call locking is not needed.
  int flags = (mode == KorDbOpenMode::kReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  std::shared_ptr<sqlite3> connection(raw, [](sqlite3* handle) { sqlite3_close_v2(handle); });
  if (rc != SQLITE_OK) {
    KLOG(ERROR) << "OPEN DB: " << path << " RES: " << rc;
    return kKorDbOpenFailed;
  }
  HardenConnection(raw);
  database->connection_ = std::move(connection);
  database->path_ = path;
  return 0;
}

int KorPrepareStatement(const KorSqliteDatabase& database, std::string_view sql, KorSqliteStatement* statement,
                        bool v2) {
  *statement = KorSqliteStatement();
  sqlite3_stmt* raw = nullptr;
  int rc = SQLITE_MISUSE;
  if (database && sql.size() < static_cast<size_t>(std::numeric_limits<int>::max())) {
    int length = static_cast<int>(sql.size());
    rc = v2 ? sqlite3_prepare_v2(database.Handle(), sql.data(), length, &raw, nullptr)
            : sqlite3_prepare(database.Handle(), sql.data(), length, &raw, nullptr);
  }
  std::shared_ptr<sqlite3_stmt> owned(raw, [](sqlite3_stmt* handle) { sqlite3_finalize(handle); });
  if (rc != SQLITE_OK || !raw) {
    KLOG(ERROR) << "OPEN STMT: " << database.Path() << " SQL: " << sql << " RES: " << rc;
    return kKorDbStatementFailed;
  }
  statement->statement_ = std::move(owned);
  return 0;
}

std::string KorTableProbeSql(const std::string& table) {
  return "SELECT sql FROM sqlite_master WHERE type=\"table\" AND name ='" + table + "'";
}

int KorProbeTable(const KorSqliteDatabase& database, const std::string& table) {
  std::string sql = KorTableProbeSql(table);
  sqlite3_stmt* raw = nullptr;
  int rc = database ? sqlite3_prepare(database.Handle(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr)
                    : SQLITE_MISUSE;
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(raw, sqlite3_finalize);
  if (rc != SQLITE_OK || !raw) {
    KLOG(ERROR) << "OPEN STMT SQL: " << sql << " RES: " << rc;
    return kKorDbStatementFailed;
  }
  return sqlite3_step(raw) == SQLITE_ROW ? kKorTableExists : kKorTableMissing;
}

int KorProbeColumn(const KorSqliteDatabase& database, std::string_view table, std::string_view column) {
  KorSqliteStatement probe;
  if (int rc = KorPrepareStatement(database, "select 1 from pragma_table_info(?) where name = ?", &probe, true)) {
    return rc;
  }
  if (!probe.BindText(1, table) || !probe.BindText(2, column)) return kKorDbStatementFailed;
  return probe.Step() ? kKorTableExists : kKorTableMissing;
}

bool KorSqliteStatement::Step() { return statement_ && sqlite3_step(statement_.get()) == SQLITE_ROW; }

void KorSqliteStatement::Reset() {
  if (!statement_) return;
  sqlite3_reset(statement_.get());
  sqlite3_clear_bindings(statement_.get());
}

bool KorSqliteStatement::BindInt64(int index, int64_t value) {
  return statement_ && sqlite3_bind_int64(statement_.get(), index, value) == SQLITE_OK;
}

bool KorSqliteStatement::BindText(int index, std::string_view value) {
  if (!statement_ || value.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return false;
  return sqlite3_bind_text(statement_.get(), index, value.data(), static_cast<int>(value.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

int64_t KorSqliteStatement::Int64(int column) const { return sqlite3_column_int64(statement_.get(), column); }

double KorSqliteStatement::Double(int column) const { return sqlite3_column_double(statement_.get(), column); }

int32_t KorSqliteStatement::Int(int column) const { return sqlite3_column_int(statement_.get(), column); }

bool KorSqliteStatement::IsNull(int column) const {
  return sqlite3_column_type(statement_.get(), column) == SQLITE_NULL;
}

std::optional<double> KorSqliteStatement::Real(int column) const {
  int type = sqlite3_column_type(statement_.get(), column);
  if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return std::nullopt;
  return sqlite3_column_double(statement_.get(), column);
}

std::string KorSqliteStatement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_.get(), column);
  if (!text) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(statement_.get(), column)));
}

std::string_view KorSqliteStatement::Blob(int column) const {
  const void* bytes = sqlite3_column_blob(statement_.get(), column);
  int length = sqlite3_column_bytes(statement_.get(), column);
  if (!bytes || length <= 0) return std::string_view();
  return std::string_view(static_cast<const char*>(bytes), static_cast<size_t>(length));
}
