// The regexp SQL function: case folding, a search rather than a whole match, and its errors,
// both directly and through SQLite's REGEXP operator.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "utility/kor_sql_regexp.h"

namespace {

TEST(SqlRegexpTest, SearchesCaseInsensitivelyAndRejectsEmptyTexts) {
  EXPECT_EQ(KorRegexpSearch("", "ABC"), -1);
  EXPECT_EQ(KorRegexpSearch("A", ""), -1);
  EXPECT_EQ(KorRegexpSearch("b", "ABC"), 1);
  EXPECT_EQ(KorRegexpSearch("^B", "ABC"), 0);
  EXPECT_EQ(KorRegexpSearch("Z_[0-9]+ASSETS", "z_26assets"), 1);
  EXPECT_EQ(KorRegexpSearch("(", "ABC"), -1) << "a pattern that does not compile is an error, not a crash";
  // Escapes are upper-cased too: \d becomes \D (not a digit).
  EXPECT_EQ(KorRegexpSearch("^\\d$", "7"), 0);
}

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};

std::string Evaluate(sqlite3* db, const std::string& sql, int* rc) {
  sqlite3_stmt* statement = nullptr;
  *rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  std::string result;
  if (*rc == SQLITE_OK) {
    *rc = sqlite3_step(statement);
    if (*rc == SQLITE_ROW) result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    if (*rc != SQLITE_ROW) result = sqlite3_errmsg(db);
  }
  sqlite3_finalize(statement);
  return result;
}

TEST(SqlRegexpTest, RegexpOperatorPassesThePatternFirst) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, Closer> db(raw);
  ASSERT_EQ(KorRegisterRegexp(raw), SQLITE_OK);
  int rc = 0;
  EXPECT_EQ(Evaluate(raw, "SELECT 'ABC' REGEXP 'b'", &rc), "1");
  EXPECT_EQ(Evaluate(raw, "SELECT 'ABC' REGEXP '^B'", &rc), "0");
  EXPECT_EQ(Evaluate(raw, "SELECT regexp('b', 'ABC')", &rc), "1");
  EXPECT_EQ(Evaluate(raw, "SELECT regexp('', 'ABC')", &rc), "SQL function regexp() called with invalid arguments.\n");
  EXPECT_EQ(rc, SQLITE_ERROR);
  EXPECT_EQ(Evaluate(raw, "SELECT regexp('A', NULL)", &rc), "SQL function regexp() called with invalid arguments.\n");
  ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE Z_26ASSETS (a); CREATE TABLE Z_FOK_1ASSETS (b); CREATE TABLE ZASSET (c);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Evaluate(raw, "SELECT name FROM sqlite_master WHERE type=\"table\" AND name REGEXP \"Z_[0-9]+ASSETS\"", &rc),
            "Z_26ASSETS");
}

}  // namespace
