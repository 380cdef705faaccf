// The backup service's parts on their own: hashed names, the catalog of profile and generated
// files, Manifest.db and the key bag's password check, and the raw file framing in both
// directions, including what a hostile computer might send.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <zlib.h>

#include <thread>

#include "backup_catalog.h"
#include "backup_content.h"
#include "backup_file_framing.h"
#include "backup_manifest.h"
#include "byte_order.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "virtual_device.h"

namespace vdevice {
namespace {

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = kst::TempFolder() + "backup-parts-" + std::to_string(kst::CurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    kst::RemoveTree(folder_);
    kst::CreateDirectories(folder_);
  }
  void TearDown() override { kst::RemoveTree(folder_); }
  void Write(const std::string& relative, const std::string& content) {
    kst::CreateDirectories(kst::ParentFolder(folder_ + "/" + relative));
    kst::WriteWholeFile(folder_ + "/" + relative, content);
  }
  std::string folder_;
};

const BackupFileEntry* Find(const std::vector<BackupFileEntry>& catalog, const std::string& relative_path) {
  for (const BackupFileEntry& entry : catalog) {
    if (entry.relative_path == relative_path) return &entry;
  }
  return nullptr;
}

TEST(BackupNames, AreTheSha1OfDomainAndRelativePath) {
  EXPECT_EQ(HashedFileId("HomeDomain", "Library/SMS/sms.db"), "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(HashedFileId("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"),
            "31bb7ba8914766d4ba40d6dfb6113c8b614be442");
  EXPECT_EQ(HashedFileId("HomeDomain", "Library/Notes/notes.sqlite"), "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c");
  EXPECT_EQ(HashedFileId("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"),
            "4f98687d8ab0d6d1a371110e6b7300f6e465bef2");
}

using BackupCatalogTest = TempFolder;

TEST_F(BackupCatalogTest, CompanionsTravelUnderTheirDatabasesNameJustBeforeItAndFoldersComeFirst) {
  Write("domains/HomeDomain/Library/SMS/sms.db", "db");
  Write("domains/HomeDomain/Library/SMS/sms.db-wal", "wal");
  Write("domains/HomeDomain/Library/SMS/orphan.db-wal", "no database beside it");
  std::vector<BackupFileEntry> catalog = BuildBackupCatalog(folder_, BackupSettings());
  ASSERT_TRUE(Find(catalog, "Library/SMS/sms.db-wal"));
  EXPECT_EQ(Find(catalog, "Library/SMS/sms.db-wal")->file_id, "3d0d7e5fb2ce288813306e4d4636395e047a3d28-wal");
  EXPECT_EQ(Find(catalog, "Library/SMS/orphan.db-wal")->file_id,
            HashedFileId("HomeDomain", "Library/SMS/orphan.db-wal"));
  ASSERT_EQ(catalog.size(), 5u);
  EXPECT_TRUE(catalog[0].directory && catalog[1].directory);
  EXPECT_EQ(catalog[0].relative_path, "Library");
  EXPECT_EQ(catalog[1].relative_path, "Library/SMS");
  EXPECT_EQ(catalog[2].relative_path, "Library/SMS/orphan.db-wal");
  EXPECT_EQ(catalog[3].relative_path, "Library/SMS/sms.db-wal");
  EXPECT_EQ(catalog[4].relative_path, "Library/SMS/sms.db");
}

TEST_F(BackupCatalogTest, GeneratedFilesAddUpToTheAskedSizeWithRepeatableContent) {
  BackupSettings settings;
  settings.generated_files = 500;
  settings.generated_bytes = 123456789;
  std::vector<BackupFileEntry> catalog = BuildBackupCatalog(folder_, settings);
  uint64_t files = 0, bytes = 0, smallest = UINT64_MAX, largest = 0;
  for (const BackupFileEntry& entry : catalog) {
    if (entry.directory) continue;
    ++files;
    bytes += entry.size;
    smallest = std::min(smallest, entry.size);
    largest = std::max(largest, entry.size);
  }
  EXPECT_EQ(files, 500u);
  EXPECT_EQ(bytes, 123456789u);
  EXPECT_GT(largest, smallest * 10) << "sizes should spread like a phone's files";
  EXPECT_EQ(BuildBackupCatalog(folder_, settings).back().file_id, catalog.back().file_id);

  char whole[64], part[20];
  FillGeneratedContent(7, 0, whole, sizeof(whole));
  FillGeneratedContent(7, 13, part, sizeof(part));
  EXPECT_EQ(std::string(whole + 13, sizeof(part)), std::string(part, sizeof(part)));
  FillGeneratedContent(8, 13, part, sizeof(part));
  EXPECT_NE(std::string(whole + 13, sizeof(part)), std::string(part, sizeof(part)));
}

using BackupManifestTest = TempFolder;

TEST_F(BackupManifestTest, ManifestDatabaseListsFilesForARestoreAndThePasswordOpensOnlyItsKeyBag) {
  Write("domains/HomeDomain/Library/SMS/sms.db", "db");
  Write("domains/CameraRollDomain/Media/DCIM/100APPLE/IMG_0001.JPG", "jpeg");
  std::vector<BackupFileEntry> catalog = BuildBackupCatalog(folder_, BackupSettings());
  std::string error;
  ASSERT_EQ(WriteManifestDatabase(folder_ + "/Manifest.db", catalog, &error), 0) << error;
  std::optional<std::vector<std::string>> ids = ReadManifestFileIds(folder_ + "/Manifest.db", &error);
  ASSERT_TRUE(ids) << error;
  EXPECT_EQ(*ids, (std::vector<std::string>{HashedFileId("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG"),
                                            "3d0d7e5fb2ce288813306e4d4636395e047a3d28"}));
  Write("broken.db", "not a database at all, just text");
  EXPECT_FALSE(ReadManifestFileIds(folder_ + "/broken.db", &error));

  DeviceProfile profile;
  profile.udid = "00008110-0000000000000001";
  profile.domains[kDefaultDomain] = MakeDict();
  VirtualDevice device(std::move(profile), 1, std::make_shared<PairingStore>());
  PlistPtr encrypted = MakeManifestPlist(device, "hunter2", 1700000000);
  EXPECT_TRUE(PasswordOpensManifest(encrypted.get(), "hunter2"));
  EXPECT_FALSE(PasswordOpensManifest(encrypted.get(), "hunter3"));
  EXPECT_FALSE(PasswordOpensManifest(encrypted.get(), ""));
  PlistPtr plain = MakeManifestPlist(device, "", 1700000000);
  EXPECT_TRUE(PasswordOpensManifest(plain.get(), "anything"));
  // A key bag whose entry claims more bytes than it has opens nothing.
  SetData(encrypted.get(), "BackupKeyBag", std::string("SALT\xff\xff\xff\xff" "abc", 11));
  EXPECT_FALSE(PasswordOpensManifest(encrypted.get(), "hunter2"));
}

// The first column of the first row of `sql` as text ("" when nothing comes back).
std::string QueryText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string text;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    const void* bytes = sqlite3_column_blob(statement, 0);
    text.assign(static_cast<const char*>(bytes), static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return text;
}

std::string Gunzip(const std::string& compressed) {
  z_stream stream{};
  inflateInit2(&stream, 15 + 16);
  std::string out(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return out;
}

using BackupContentTest = TempFolder;

TEST_F(BackupContentTest, ThePhonesDatabasesOpenWithTheirRealTables) {
  std::string error;
  ASSERT_TRUE(vdevice_fixtures::WriteBackupContent(folder_, {3, 3000}, &error)) << error;
  std::string home = folder_ + "/domains/HomeDomain/Library/";
  EXPECT_EQ(QueryText(home + "AddressBook/AddressBook.sqlitedb",
                      "SELECT First || ' ' || Last FROM ABPerson p JOIN ABMultiValue v ON v.record_id = p.ROWID "
                      "AND v.property = 3 ORDER BY p.ROWID"),
            "Anna Berger");
  EXPECT_EQ(QueryText(home + "Notes/notes.sqlite",
                      "SELECT ZTITLE FROM ZNOTE n JOIN ZNOTEBODY b ON b.ZOWNER = n.Z_PK ORDER BY n.Z_PK"),
            "Groceries");
  std::string note_store = folder_ + "/domains/AppDomainGroup-group.com.apple.notes/NoteStore.sqlite";
  EXPECT_EQ(QueryText(note_store, "SELECT ZTITLE1 FROM ZICCLOUDSYNCINGOBJECT WHERE ZNOTEDATA IS NOT NULL ORDER BY Z_PK"),
            "Groceries");
  std::string note_data = Gunzip(QueryText(note_store, "SELECT ZDATA FROM ZICNOTEDATA ORDER BY Z_PK"));
  EXPECT_NE(note_data.find("Groceries\nMilk, eggs, rye bread"), std::string::npos);
  EXPECT_GT(kst::FileSize(home + "SMS/sms.db-wal"), 0);
  EXPECT_NE(QueryText(home + "SMS/sms.db", "SELECT count(*) FROM message"), "");
  BackupSettings settings;
  ASSERT_EQ(LoadBackupSettings(folder_, &settings, &error), 0) << error;
  EXPECT_EQ(settings.generated_files, 3u);
  EXPECT_EQ(settings.generated_bytes, 3000u);
}

// Both ends of a connection: the device's stream and the computer's raw socket.
class FramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    device_ = std::make_unique<kst::KstSocket>(fds[0]);
    computer_ = std::make_unique<kst::KstSocket>(fds[1]);
    stream_ = std::make_unique<ServiceStream>(*device_, "com.apple.mobilebackup2", nullptr, nullptr);
  }

  // Sends `bytes` from the computer in pieces of `piece` bytes, then closes its side.
  void SendFromComputer(const std::string& bytes, size_t piece) {
    sender_ = std::thread([this, bytes, piece] {
      for (size_t offset = 0; offset < bytes.size(); offset += piece) {
        computer_->SendAll(bytes.data() + offset, std::min(piece, bytes.size() - offset));
      }
      computer_->Shutdown();
    });
  }
  void TearDown() override {
    if (sender_.joinable()) sender_.join();
  }

  static std::string Length(uint32_t value) {
    uint8_t bytes[4];
    StoreBig(bytes, 4, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
  }
  static std::string Block(uint8_t code, const std::string& payload) {
    return Length(static_cast<uint32_t>(payload.size() + 1)) + static_cast<char>(code) + payload;
  }
  static std::string Name(const std::string& name) { return Length(static_cast<uint32_t>(name.size())) + name; }

  std::unique_ptr<kst::KstSocket> device_, computer_;
  std::unique_ptr<ServiceStream> stream_;
  std::thread sender_;
};

class RecordingSink : public HostFileSink {
 public:
  void Begin(const std::string& path) override { log += "begin " + path + ";"; }
  void Data(const char* bytes, size_t length) override { log += "data " + std::string(bytes, length) + ";"; }
  void End(bool ok, const std::string& error_text) override { log += (ok ? "ok" : "error " + error_text) + ";"; }
  std::string log;
};

TEST_F(FramingTest, FilesFromTheComputerArriveWhateverPiecesTheStreamIsCutInto) {
  std::string stream = Name("U/3d/a") + Block(kBlockFileData, "hello ") + Block(kBlockFileData, "world") +
                       Block(kBlockSuccess, "") + Name("U/Manifest.plist") +
                       Block(kBlockLocalError, "No such file or directory") + Name("U/empty") +
                       Block(kBlockSuccess, "") + Length(0);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, stream.size()}) {
    SetUp();
    SendFromComputer(stream, piece);
    RecordingSink sink;
    EXPECT_EQ(ReceiveFileList(*stream_, sink), FileListEnd::kComplete) << piece;
    EXPECT_EQ(sink.log, "begin U/3d/a;data hello ;data world;ok;begin U/Manifest.plist;"
                        "error No such file or directory;begin U/empty;ok;")
        << piece;
    TearDown();
  }
}

TEST_F(FramingTest, HostileLengthsAndCutStreamsEndTheListWithoutReadingOn) {
  struct Case {
    std::string bytes;
    FileListEnd end;
  };
  for (const Case& c : std::vector<Case>{{Length(4097), FileListEnd::kMalformed},
                                         {Name("a") + Length(kMaxFramedBlockBytes + 1), FileListEnd::kMalformed},
                                         {Name("a") + Block(kBlockFileData, "abc").substr(0, 6), FileListEnd::kClosed},
                                         {Length(10) + "short", FileListEnd::kClosed}}) {
    SetUp();
    SendFromComputer(c.bytes, c.bytes.size());
    RecordingSink sink;
    EXPECT_EQ(ReceiveFileList(*stream_, sink), c.end);
    TearDown();
  }
}

TEST_F(FramingTest, UploadsCarryTwoNamesDataBlocksAndTheEndBlock) {
  std::string content(kUploadBlockBytes + 10, 'x');
  std::thread device([&] {
    UploadFile(*stream_, "HomeDomain/a", "U/ab/abcd", content.size(), [&](uint64_t offset, char* buffer, size_t length) {
      content.copy(buffer, length, static_cast<size_t>(offset));
      return true;
    });
    UploadFileError(*stream_, "HomeDomain/b", "U/cd/cdef", "gone");
    EndFileList(*stream_);
    device_->Shutdown();
  });
  std::string received;
  char buffer[65536];
  for (long n; (n = computer_->Recv(buffer, sizeof(buffer))) > 0;) received.append(buffer, static_cast<size_t>(n));
  device.join();
  std::string expected = Name("HomeDomain/a") + Name("U/ab/abcd") + Block(kBlockFileData, content.substr(0, kUploadBlockBytes)) +
                         Block(kBlockFileData, content.substr(kUploadBlockBytes)) + Block(kBlockSuccess, "") +
                         Name("HomeDomain/b") + Name("U/cd/cdef") + Block(kBlockRemoteError, "gone") + Length(0);
  EXPECT_EQ(received, expected);
}

}  // namespace
}  // namespace vdevice
