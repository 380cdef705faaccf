// The backup and restore run loops against a scripted device: every message kind, the raw file
// framing on a real socket, how transfers end, and that no device path escapes the folder.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "framework_environment.h"
#include "iOSAPI/kor_plist_xml.h"
#include "scripted_device.h"
#include "utility/module/itunes/kor_backup_transfer.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUdid = "00008030-0011223344556677";

std::string Text(const std::string& text) { return KorPlistString(text); }
std::string Real(double number) { return KorPlistReal(number); }

std::string ReadFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every regular file and link under a folder, relative to it.
std::set<std::string> TreeOf(const fs::path& folder) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    entries.insert(fs::relative(entry.path(), folder).string());
  }
  return entries;
}

class BackupTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadBuiltFramework());
    sandbox_ = fs::temp_directory_path() /
               (std::string("backup_transfer_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(sandbox_);
    fs::create_directories(sandbox_ / "root");
    fs::create_directories(sandbox_ / "outside");
    std::ofstream(sandbox_ / "outside" / "victim") << "keep me";
    hooks_.device_gone = [this] { return device_gone_.load(); };
    hooks_.stopped = [this] { return stopped_.load(); };
    hooks_.progress = [this](int hundredths) {
      std::lock_guard<std::mutex> lock(mutex_);
      progress_.push_back(hundredths);
    };
    hooks_.interrupt = [this] { device_.InterruptHost(); };
    hooks_.loss_grace = std::chrono::milliseconds(0);
  }
  void TearDown() override {
    if (host_.joinable()) host_.join();
    fs::remove_all(sandbox_);
  }

  KorBackupPaths Paths() const { return KorBackupPaths((sandbox_ / "root").string(), kUdid, "-20260309140507"); }
  fs::path Folder() const { return Paths().Folder(); }

  // Starts a backup on the host's thread and plays the device's greeting and the request.
  void StartBackup(size_t max_piece = 0) {
    host_ = std::thread([this, max_piece] {
      KorBackupTransfer transfer(device_.HostIo(max_piece), Paths(), hooks_);
      greeted_ = transfer.Greet() && transfer.RequestBackup(kUdid);
      outcome_ = transfer.RunBackup();
    });
    PlayGreeting();
    KorValue request = device_.Read();
    ASSERT_EQ(KorDLMessageName(request), "DLMessageProcessMessage");
    auto dict = request.AsArray()[1].AsDictionary();
    EXPECT_EQ(dict->Get("MessageName").AsString(), "Backup");
    EXPECT_EQ(dict->Get("TargetIdentifier").AsString(), kUdid);
    fs::create_directories(Folder());  // the command makes the folder before the transfer
  }

  void PlayGreeting() {
    device_.Send({Text("DLMessageVersionExchange"), KorPlistInteger(300), KorPlistInteger(0)});
    KorValue versions = device_.Read();
    ASSERT_EQ(KorDLMessageName(versions), "DLMessageVersionExchange");
    EXPECT_EQ(versions.AsArray()[1].AsString(), "DLVersionsOk");
    EXPECT_EQ(versions.AsArray()[2].AsInteger(), 300);
    device_.Send({Text("DLMessageDeviceReady")});
    KorValue hello = device_.Read();
    ASSERT_EQ(KorDLMessageName(hello), "DLMessageProcessMessage");
    auto dict = hello.AsArray()[1].AsDictionary();
    EXPECT_EQ(dict->Get("MessageName").AsString(), "Hello");
    ASSERT_EQ(dict->Get("SupportedProtocolVersions").AsArray().size(), 2u);
    device_.Send({Text("DLMessageProcessMessage"),
                  KorPlistDict({{"ErrorCode", KorPlistInteger(0)}, {"ProtocolVersion", Real(2.1)}})});
  }

  // Expects a status answer and returns its elements.
  KorValue::Array ExpectStatus(int64_t code) {
    KorValue status = device_.Read();
    EXPECT_EQ(KorDLMessageName(status), "DLMessageStatusResponse");
    if (!status.IsArray() || status.AsArray().size() != 4) {
      ADD_FAILURE() << "status answer with four elements expected";
      return {};
    }
    EXPECT_EQ(status.AsArray()[1].AsInteger(), code);
    return status.AsArray();
  }

  void Upload(const std::string& files, double progress) {
    device_.Send({Text("DLMessageUploadFiles"), "<dict/>", Real(progress)});
    device_.SendRaw(files + BigEndian(0));
    ExpectStatus(0);
  }

  KorBackupOutcome Finish() {
    host_.join();
    return outcome_;
  }

  fs::path sandbox_;
  ScriptedDevice device_;
  KorBackupHooks hooks_;
  std::atomic<bool> device_gone_{false};
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::vector<int> progress_;
  std::thread host_;
  bool greeted_ = false;
  KorBackupOutcome outcome_;
};

TEST_F(BackupTransferTest, ACompleteBackupCarriesOutEveryMessageKind) {
  StartBackup();
  device_.Send({Text("DLMessageGetFreeDiskSpace"), Real(0.0)});
  KorValue::Array free_space = ExpectStatus(0);
  ASSERT_EQ(free_space.size(), 4u);
  EXPECT_GT(free_space[3].AsInteger(), 0);

  device_.Send({Text("DLMessageCreateDirectory"), Text(std::string(kUdid) + "/Snapshot/a/b"), Real(1.0)});
  KorValue::Array created = ExpectStatus(0);
  ASSERT_EQ(created.size(), 4u);
  EXPECT_EQ(created[2].AsString(), kKorDLEmptyParameter);
  EXPECT_EQ(created[3].AsString(), kKorDLEmptyParameter);
  EXPECT_TRUE(fs::is_directory(Folder() / "Snapshot" / "a" / "b"));

  device_.Send({Text("DLContentsOfDirectory"), Text(std::string(kUdid) + "/Snapshot")});
  EXPECT_TRUE(ExpectStatus(0)[3].AsDictionary()->Entries().empty());

  std::string big(70000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  const std::string u = kUdid;
  Upload(UploadedFile(u + "/Snapshot/Manifest.db", big, 32768) + UploadedFile(u + "/Snapshot/ab/empty", "") +
             UploadedFile(u + "/Snapshot/Status.plist", "status"),
         50.0);
  EXPECT_EQ(ReadFileText(Folder() / "Snapshot" / "Manifest.db"), big);
  EXPECT_TRUE(fs::is_regular_file(Folder() / "Snapshot" / "ab" / "empty"));
  EXPECT_EQ(fs::file_size(Folder() / "Snapshot" / "ab" / "empty"), 0u);

  std::ofstream(Folder() / "Status.plist") << "older";
  device_.Send({Text("DLMessageMoveItems"),
                KorPlistDict({{u + "/Snapshot/Manifest.db", Text(u + "/Manifest.db")},
                              {u + "/Snapshot/Status.plist", Text(u + "/Status.plist")}}),
                Real(60.0)});
  ExpectStatus(0);
  EXPECT_EQ(ReadFileText(Folder() / "Manifest.db"), big);
  EXPECT_EQ(ReadFileText(Folder() / "Status.plist"), "older");  // an existing target stays
  EXPECT_TRUE(fs::exists(Folder() / "Snapshot" / "Status.plist"));

  device_.Send({Text("DLMessageRemoveItems"),
                KorPlistArray({Text(u + "/Snapshot/Status.plist"), Text(u + "/Snapshot/a")}), Real(70.0)});
  ExpectStatus(0);
  EXPECT_FALSE(fs::exists(Folder() / "Snapshot" / "Status.plist"));
  EXPECT_TRUE(fs::is_directory(Folder() / "Snapshot" / "a"));  // folders are left

  device_.Send({Text("DLMessageDownloadFiles"), KorPlistArray({Text(u + "/Manifest.plist")}), Real(80.0)});
  EXPECT_EQ(device_.ReadRaw(4 + u.size() + 15), NameBlock(u + "/Manifest.plist"));
  EXPECT_EQ(device_.ReadRaw(30), DataBlock(0x06, "No such file or directory"));
  EXPECT_EQ(device_.ReadRaw(4), BigEndian(0));
  KorValue::Array multi = ExpectStatus(-13);
  ASSERT_EQ(multi.size(), 4u);
  EXPECT_EQ(multi[2].AsString(), "Multi status");
  auto error = multi[3].AsDictionary()->Get(u + "/Manifest.plist").AsDictionary();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Get("DLFileErrorCode").AsInteger(), -6);

  // Case-different names, removals of files and copies are not answered.
  device_.Send({Text("dlmessagedisconnect"), Text("bye")});
  device_.Send({Text("DLMessageRemoveFiles"), KorPlistArray({Text(u + "/Manifest.db")})});
  device_.Send({Text("DLMessageCopyItem"), Text(u + "/a"), Text(u + "/b")});
  device_.Send({Text("DLMessageProcessMessage"), KorPlistDict({{"ErrorCode", KorPlistInteger(0)}}), Real(100.0)});
  ExpectStatus(0);  // at 100 the final process message is answered and the disconnect awaited
  device_.Send({Text("DLMessageDisconnect"), Text("___EmptyParameterString___")});
  KorBackupOutcome outcome = Finish();
  EXPECT_TRUE(greeted_);
  EXPECT_EQ(outcome.code, 0);
  EXPECT_TRUE(fs::exists(Folder() / "Manifest.db"));
  EXPECT_EQ(progress_, (std::vector<int>{0, 100, 5000, 6000, 7000, 8000, 10000}));
}

TEST_F(BackupTransferTest, RawFramingArrivingOneByteAtATimeIsWrittenWhole) {
  StartBackup(1);
  const std::string content = "split at every boundary of the framing";
  Upload(UploadedFile(std::string(kUdid) + "/f", content, 3), 10.0);
  EXPECT_EQ(ReadFileText(Folder() / "f"), content);
  device_.Send({Text("DLMessageDisconnect"), Real(100.0)});
  EXPECT_EQ(Finish().code, 0);
}

TEST_F(BackupTransferTest, ADisconnectBelowOneHundredPercentLeavesNoFolder) {
  StartBackup();
  Upload(UploadedFile(std::string(kUdid) + "/Manifest.db", "data"), 99.5);
  device_.Send({Text("DLMessageDisconnect"), Text("bye")});
  EXPECT_EQ(Finish().code, kKorBackupDeviceGone);
  EXPECT_FALSE(fs::exists(Folder()));
  EXPECT_TRUE(fs::exists(sandbox_ / "root"));
}

TEST_F(BackupTransferTest, ProcessMessagesBelowOneHundredPercentEndTheTransfer) {
  StartBackup();
  device_.Send({Text("DLMessageProcessMessage"), KorPlistDict({{"ErrorCode", KorPlistInteger(0)}}), Real(40.0)});
  KorBackupOutcome success = Finish();
  EXPECT_EQ(success.code, 0);
  EXPECT_FALSE(success.all_wanted_arrived);
  EXPECT_FALSE(fs::exists(Folder()));  // below 100 % the folder goes, whatever the code
}

TEST_F(BackupTransferTest, ALockedDeviceReportsItsCodeAndDescription) {
  StartBackup();
  device_.Send({Text("DLMessageProcessMessage"),
                KorPlistDict({{"ErrorCode", KorPlistInteger(208)}, {"ErrorDescription", Text("Device locked")}})});
  KorBackupOutcome outcome = Finish();
  EXPECT_EQ(outcome.code, 208);
  EXPECT_EQ(outcome.message, "Device locked");
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(BackupTransferTest, HostilePathsNeverLeaveTheBackupFolder) {
  StartBackup();
  const std::string u = kUdid;
  fs::create_symlink(sandbox_ / "outside", Folder() / "link");
  const std::set<std::string> before = TreeOf(sandbox_);
  for (const std::string& path : {std::string("../escape"), std::string("/tmp/absolute_escape"), u + "/../../escape",
                                  u + "/link/escape", std::string("OTHER/escape")}) {
    device_.Send({Text("DLMessageCreateDirectory"), Text(path)});
    ExpectStatus(0);
  }
  Upload(UploadedFile(u + "/../../outside/victim", "overwritten") + UploadedFile(u + "/link/victim", "overwritten") +
             UploadedFile("/tmp/absolute_upload", "x") + UploadedFile(u + "/kept", "inside") +
             UploadedFile(u + "-20260309140507/../outside/new", "x"),
         20.0);
  device_.Send({Text("DLMessageMoveItems"),
                KorPlistDict({{u + "/kept", Text("../moved")}, {"../outside/victim", Text(u + "/stolen")},
                              {u + "/link/victim", Text(u + "/stolen2")}})});
  ExpectStatus(0);
  device_.Send({Text("DLMessageRemoveItems"),
                KorPlistArray({Text("../outside/victim"), Text(u + "/link/victim"), Text(u + "/link")})});
  ExpectStatus(0);
  device_.Send({Text("DLMessageDisconnect"), Real(100.0)});
  EXPECT_EQ(Finish().code, 0);

  EXPECT_EQ(ReadFileText(sandbox_ / "outside" / "victim"), "keep me");
  std::set<std::string> after = TreeOf(sandbox_);
  std::set<std::string> added;
  for (const std::string& entry : after) {
    if (!before.count(entry)) added.insert(entry);
  }
  const std::string folder = "root/" + u + "-20260309140507";
  EXPECT_EQ(added, (std::set<std::string>{folder + "/kept"}));
  EXPECT_FALSE(fs::exists("/tmp/absolute_escape"));
  EXPECT_FALSE(fs::exists("/tmp/absolute_upload"));
}

TEST_F(BackupTransferTest, AConnectionLostInsideAFileLeavesNoFolder) {
  StartBackup();
  device_.Send({Text("DLMessageUploadFiles"), "<dict/>", Real(30.0)});
  const std::string u = kUdid;
  device_.SendRaw(NameBlock(u + "/partial") + NameBlock(u + "/partial") + BigEndian(1000) + "\x0c" + "only a little");
  device_.Hangup();
  KorBackupOutcome outcome = Finish();
  EXPECT_EQ(outcome.code, kKorBackupTaskError);
  EXPECT_EQ(outcome.message, "Task error.");
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(BackupTransferTest, AStopOrADeviceLossEndsASilentTransfer) {
  StartBackup();
  stopped_ = true;  // the device stays silent; the watch interrupts the receive
  KorBackupOutcome stopped = Finish();
  EXPECT_EQ(stopped.code, 6);
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(BackupTransferTest, ADeviceGoneBetweenUploadedFilesEndsWith45) {
  StartBackup();
  const std::string u = kUdid;
  device_gone_ = true;
  device_.Send({Text("DLMessageUploadFiles"), "<dict/>", Real(30.0)});
  device_.SendRaw(UploadedFile(u + "/a", "a"));
  EXPECT_EQ(Finish().code, kKorBackupDeviceGone);
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(BackupTransferTest, AConnectionThatBreaksJustBeforeTheDeviceIsReportedGoneEndsWith45) {
  hooks_.loss_grace = std::chrono::seconds(30);
  StartBackup();
  Upload(UploadedFile(std::string(kUdid) + "/a", "a"), 50.0);
  device_.Hangup();  // unplugged: the connection breaks first, the report follows
  std::thread report([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device_gone_ = true;
  });
  EXPECT_EQ(Finish().code, kKorBackupDeviceGone);
  report.join();
  EXPECT_FALSE(fs::exists(Folder()));
}

TEST_F(BackupTransferTest, AllWantedFilesEndTheTransferAndStayOnDisk) {
  std::vector<std::string> arrived;
  hooks_.file_arrived = [&arrived](const std::string& path) {
    arrived.push_back(path);
    return path.find("wanted") != std::string::npos;
  };
  StartBackup();
  const std::string u = kUdid;
  device_.Send({Text("DLMessageUploadFiles"), "<dict/>", Real(5.0)});
  device_.SendRaw(UploadedFile(u + "/other", "o") + UploadedFile(u + "/wanted", "w") + UploadedFile(u + "/later", "l"));
  KorBackupOutcome outcome = Finish();
  EXPECT_EQ(outcome.code, 0);
  EXPECT_TRUE(outcome.all_wanted_arrived);
  EXPECT_EQ(ReadFileText(Folder() / "wanted"), "w");
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_EQ(arrived[1], Folder().string() + "wanted");
}

TEST_F(BackupTransferTest, ARestoreSendsTheRequestedFilesFromTheFolder) {
  const fs::path folder = sandbox_ / "root" / "SRC-20250101000000";
  fs::create_directories(folder / "ab");
  std::string manifest(40000, 'm');
  std::ofstream(folder / "Manifest.plist", std::ios::binary) << manifest;
  host_ = std::thread([this, folder] {
    KorBackupTransfer transfer(device_.HostIo(), KorBackupPaths::ForFolder(folder.string(), "SRC"), hooks_);
    greeted_ = transfer.Greet() && transfer.RequestRestore("SRC", kUdid, std::string("p<w>"));
    outcome_ = transfer.RunRestore();
  });
  PlayGreeting();
  KorValue request = device_.Read();
  auto dict = request.AsArray()[1].AsDictionary();
  EXPECT_EQ(dict->Get("MessageName").AsString(), "Restore");
  EXPECT_EQ(dict->Get("SourceIdentifier").AsString(), "SRC");
  EXPECT_EQ(dict->Get("TargetIdentifier").AsString(), kUdid);
  EXPECT_TRUE(dict->Get("Options").AsDictionary()->Get("RestoreDontCopyBackup").AsBool());
  EXPECT_EQ(dict->Get("Options").AsDictionary()->Get("Password").AsString(), "p<w>");

  device_.Send({Text("DLMessageDownloadFiles"),
                KorPlistArray({Text("SRC/Manifest.plist"), Text("SRC/../../outside/victim"), Text("SRC/ab/missing")}),
                Real(25.0)});
  EXPECT_EQ(device_.ReadRaw(4 + 18), NameBlock("SRC/Manifest.plist"));
  EXPECT_EQ(device_.ReadRaw(5 + 32768), DataBlock(0x0C, manifest.substr(0, 32768)));
  EXPECT_EQ(device_.ReadRaw(5 + 40000 - 32768), DataBlock(0x0C, manifest.substr(32768)));
  EXPECT_EQ(device_.ReadRaw(5), DataBlock(0x00, ""));
  EXPECT_EQ(device_.ReadRaw(4 + 24), NameBlock("SRC/../../outside/victim"));
  EXPECT_EQ(device_.ReadRaw(5 + 23), DataBlock(0x06, "Operation not permitted"));
  EXPECT_EQ(device_.ReadRaw(4 + 14), NameBlock("SRC/ab/missing"));
  EXPECT_EQ(device_.ReadRaw(5 + 25), DataBlock(0x06, "No such file or directory"));
  EXPECT_EQ(device_.ReadRaw(4), BigEndian(0));
  ExpectStatus(0);
  device_.Send({Text("DLMessageGetFreeDiskSpace")});  // not answered during a restore
  device_.Send({Text("DLMessageProcessMessage"), KorPlistDict({{"ErrorCode", KorPlistInteger(0)}}), Real(100.0)});
  KorBackupOutcome outcome = Finish();
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(progress_, (std::vector<int>{2500, 10000}));
}

TEST_F(BackupTransferTest, ARestoreEndsWith45OnDisconnect) {
  const fs::path folder = sandbox_ / "root" / "SRC";
  fs::create_directories(folder);
  auto run_restore = [this, folder] {
    KorBackupTransfer transfer(device_.HostIo(), KorBackupPaths::ForFolder(folder.string(), "SRC"), hooks_);
    transfer.Greet();
    transfer.RequestRestore("SRC", kUdid, std::nullopt);
    outcome_ = transfer.RunRestore();
  };
  host_ = std::thread(run_restore);
  PlayGreeting();
  KorValue request = device_.Read();
  EXPECT_FALSE(request.AsArray()[1].AsDictionary()->Get("Options").AsDictionary()->Has("Password"));
  device_.Send({Text("DLMessageDisconnect")});
  EXPECT_EQ(Finish().code, kKorBackupDeviceGone);
}

TEST_F(BackupTransferTest, ARestoreWhoseConnectionFailsEndsWithTaskError) {
  const fs::path folder = sandbox_ / "root" / "SRC";
  fs::create_directories(folder);
  host_ = std::thread([this, folder] {
    KorBackupTransfer transfer(device_.HostIo(), KorBackupPaths::ForFolder(folder.string(), "SRC"), hooks_);
    transfer.Greet();
    transfer.RequestRestore("SRC", kUdid, std::nullopt);
    outcome_ = transfer.RunRestore();
  });
  PlayGreeting();
  device_.Read();
  device_.Hangup();
  KorBackupOutcome outcome = Finish();
  EXPECT_EQ(outcome.code, kKorBackupTaskError);
  EXPECT_EQ(outcome.message, "Task error Unknown.");
}

}  // namespace
