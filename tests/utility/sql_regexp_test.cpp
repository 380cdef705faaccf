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

TEST(SqlRegexpTest, HostileTextsEndWithAnAnswerOrAnError) {
  // Nested repetition on a subject that almost matches: a backtracking matcher needs 2^n steps.
  std::string subject(4000, 'a');
  subject.push_back('!');
  EXPECT_EQ(KorRegexpSearch("^(a+)+$", subject), 0);
  EXPECT_EQ(KorRegexpSearch("(a|aa)*b", subject), 0);
  EXPECT_EQ(KorRegexpSearch("(a*)*!$", subject), 1);
  // Forms without a linear-time matcher are refused like a pattern that does not compile.
  EXPECT_EQ(KorRegexpSearch("(a)\\1", "AA"), -1);
  EXPECT_EQ(KorRegexpSearch("A(?=B)", "AB"), -1);
  // Counted repetitions whose program would not fit the memory bound.
  EXPECT_EQ(KorRegexpSearch("((((a{100}){100}){100}){100})", "A"), -1);
  // Texts beyond 4 KiB are misuse, whatever they hold.
  EXPECT_EQ(KorRegexpSearch("A", std::string(4097, 'a')), -1);
  EXPECT_EQ(KorRegexpSearch(std::string(4097, 'a'), "A"), -1);
  EXPECT_EQ(KorRegexpSearch("A", std::string(4096, 'a')), 1);
  // Bytes are matched one by one, so text that is not UTF-8 is still searched.
  EXPECT_EQ(KorRegexpSearch("\xff", "a\xff"), 1);
  EXPECT_EQ(KorRegexpSearch("^.$", "\xc3\xa9"), 0);
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

TEST(SqlRegexpTest, RegexpOperatorPassesThePatternFirstAndEachRowsPattern) {
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
  // A pattern taken from a column changes from row to row: each row gets its own.
  ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE p (pattern); INSERT INTO p VALUES ('^A'), ('^B'), ('C$'), ('^C');", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Evaluate(raw, "SELECT group_concat(pattern, ' ') FROM p WHERE 'abc' REGEXP pattern", &rc), "^A C$");
  // A constant pattern over many rows: the same answers as row by row.
  ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE s (subject); INSERT INTO s VALUES ('Z_3ASSETS'), ('ZASSET'), ('z_12assets');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(Evaluate(raw, "SELECT group_concat(subject, ' ') FROM s WHERE subject REGEXP 'Z_[0-9]+ASSETS'", &rc),
            "Z_3ASSETS z_12assets");
  EXPECT_EQ(Evaluate(raw, "SELECT count(*) FROM s WHERE subject REGEXP '(a)\\1'", &rc),
            "SQL function regexp() called with invalid arguments.\n");
}

}  // namespace
