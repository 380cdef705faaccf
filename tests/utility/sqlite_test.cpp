// The shared database helpers: open, prepare, probe and column reads on small files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "utility/db/kor_sqlite.h"

namespace {

class SqliteHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("kor_sqlite_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string Path(const char* name) const { return (folder_ / name).string(); }

  // A database with one table "message" and two rows, one of them with NULL text.
  std::string MakeDatabase() {
    std::string path = Path("test.db");
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "create table message(id integer, text text, body blob);"
                           "insert into message values(1,'one',x'00ff01');"
                           "insert into message values(9000000000,NULL,NULL);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    return path;
  }

  std::filesystem::path folder_;
};

TEST_F(SqliteHelperTest, MissingFileIsNotCreatedAndAnswers19) {
  KorSqliteDatabase db;
  EXPECT_EQ(KorOpenDatabase(Path("absent.db"), &db), kKorDbOpenFailed);
  EXPECT_FALSE(db);
  EXPECT_FALSE(std::filesystem::exists(Path("absent.db")));
  EXPECT_EQ(KorOpenDatabase(folder_.string(), &db), kKorDbOpenFailed);
}

TEST_F(SqliteHelperTest, ProbeTellsPresentFromMissingTables) {
  KorSqliteDatabase db;
  ASSERT_EQ(KorOpenDatabase(MakeDatabase(), &db, KorDbOpenMode::kReadOnly), 0);
  EXPECT_EQ(KorProbeTable(db, "message"), kKorTableExists);
  EXPECT_EQ(KorProbeTable(db, "chat"), kKorTableMissing);
  // A name that breaks the probe's quoting makes the probe fail to prepare.
  EXPECT_EQ(KorProbeTable(db, "x' garbage '"), kKorDbStatementFailed);
  EXPECT_EQ(KorTableProbeSql("chat"), "SELECT sql FROM sqlite_master WHERE type=\"table\" AND name ='chat'");
}

TEST_F(SqliteHelperTest, StatementsReadColumnsAndNullTextIsEmpty) {
  KorSqliteDatabase db;
  ASSERT_EQ(KorOpenDatabase(MakeDatabase(), &db), 0);
  KorSqliteStatement rows;
  ASSERT_EQ(KorPrepareStatement(db, "select id,text,body from message order by id", &rows), 0);
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Int64(0), 1);
  EXPECT_EQ(rows.Text(1), "one");
  EXPECT_EQ(rows.Blob(2), std::string_view("\x00\xff\x01", 3));
  ASSERT_TRUE(rows.Step());
  EXPECT_EQ(rows.Int64(0), 9000000000);
  EXPECT_TRUE(rows.IsNull(1));
  EXPECT_EQ(rows.Text(1), "");
  EXPECT_TRUE(rows.Blob(2).empty());
  EXPECT_FALSE(rows.Step());

  KorSqliteStatement by_id;
  ASSERT_EQ(KorPrepareStatement(db, "select text from message where id=?", &by_id, true), 0);
  ASSERT_TRUE(by_id.BindInt64(1, 1));
  ASSERT_TRUE(by_id.Step());
  EXPECT_EQ(by_id.Text(0), "one");
  by_id.Reset();
  ASSERT_TRUE(by_id.BindInt64(1, 2));
  EXPECT_FALSE(by_id.Step());
}

TEST_F(SqliteHelperTest, BadSqlAndNonDatabaseFilesAnswer20) {
  KorSqliteDatabase db;
  ASSERT_EQ(KorOpenDatabase(MakeDatabase(), &db), 0);
  KorSqliteStatement rows;
  EXPECT_EQ(KorPrepareStatement(db, "select nothing from nowhere", &rows), kKorDbStatementFailed);
  EXPECT_FALSE(rows);
  EXPECT_FALSE(rows.Step());

  // SQLite opens any file lazily; a file that is not a database fails at the first statement.
  std::ofstream(Path("junk.db")) << std::string(4096, 'x');
  KorSqliteDatabase junk;
  ASSERT_EQ(KorOpenDatabase(Path("junk.db"), &junk), 0);
  EXPECT_EQ(KorProbeTable(junk, "message"), kKorDbStatementFailed);
  EXPECT_EQ(KorPrepareStatement(junk, "select 1 from message", &rows), kKorDbStatementFailed);
}

}  // namespace
