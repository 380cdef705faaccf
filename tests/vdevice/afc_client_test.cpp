// AFC through libimobiledevice's C API: listing, file info, reading and writing with seeks and
// truncation, renames and removals, the error numbers, escape attempts and concurrent clients.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "device_session.h"
#include "platform/kst_fs.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

// afc_read_directory / afc_get_file_info return NULL-terminated lists to free; the list pointer
// must be null again before the next call.
std::vector<std::string> TakeList(char**& list) {
  std::vector<std::string> items;
  for (char** item = list; item && *item; ++item) items.emplace_back(*item);
  afc_dictionary_free(list);
  list = nullptr;
  return items;
}

std::map<std::string, std::string> TakePairs(char**& list) {
  std::vector<std::string> items = TakeList(list);
  std::map<std::string, std::string> pairs;
  for (size_t i = 0; i + 1 < items.size(); i += 2) pairs[items[i]] = items[i + 1];
  return pairs;
}

class AfcClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = vd_.MakeProfile("demo");
    ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
    vd_.ExportSocketAddress();
    udid_ = VdeviceFixture::ProfileUdid(profile_);
    ASSERT_EQ(session_.Open(udid_), LOCKDOWN_E_SUCCESS) << vd_.ServerLog();
    ASSERT_EQ(afc_.Open(session_), 0) << vd_.ServerLog();
  }

  std::string Local(const std::string& device_path) const { return profile_ + "/afc" + device_path; }
  std::map<std::string, std::string> Info(const std::string& path, afc_error_t* error = nullptr) {
    char** list = nullptr;
    afc_error_t result = afc_get_file_info(afc_.get(), path.c_str(), &list);
    if (error) *error = result;
    return TakePairs(list);
  }

  VdeviceFixture vd_;
  std::string profile_, udid_;
  DeviceSession session_;
  AfcSession afc_;
};

TEST_F(AfcClientTest, ListsTheMediaTreeAndDescribesFiles) {
  char** list = nullptr;
  ASSERT_EQ(afc_read_directory(afc_.get(), "/", &list), AFC_E_SUCCESS);
  std::vector<std::string> root = TakeList(list);
  for (const char* name : {".", "..", "DCIM", "Books", "Recordings", "iTunes_Control"}) {
    EXPECT_NE(std::find(root.begin(), root.end(), name), root.end()) << name;
  }
  ASSERT_EQ(afc_read_directory(afc_.get(), "/DCIM/100APPLE", &list), AFC_E_SUCCESS);
  EXPECT_EQ(TakeList(list), (std::vector<std::string>{".", "..", "IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}));

  std::map<std::string, std::string> photo = Info("/DCIM/100APPLE/IMG_0001.JPG");
  EXPECT_EQ(photo["st_ifmt"], "S_IFREG");
  EXPECT_EQ(photo["st_size"], std::to_string(kst::FileSize(Local("/DCIM/100APPLE/IMG_0001.JPG"))));
  EXPECT_EQ(photo["st_nlink"], "1");
  EXPECT_GT(std::stoll(photo["st_mtime"]), 1600000000LL * 1000000000LL);
  EXPECT_TRUE(photo.count("st_blocks") && photo.count("st_birthtime"));
  EXPECT_EQ(Info("/DCIM")["st_ifmt"], "S_IFDIR");
}

TEST_F(AfcClientTest, DeviceInfoReportsModelAndTheProfilesStorage) {
  char** list = nullptr;
  ASSERT_EQ(afc_get_device_info(afc_.get(), &list), AFC_E_SUCCESS);
  std::map<std::string, std::string> info = TakePairs(list);
  EXPECT_EQ(info["Model"], "iPhone14,5");
  EXPECT_EQ(info["FSTotalBytes"], "117266464768");
  EXPECT_EQ(info["FSFreeBytes"], "64424509440");
  EXPECT_EQ(info["FSBlockSize"], "4096");
}

TEST_F(AfcClientTest, WritesReadsSeeksAndTruncates) {
  uint64_t handle = 0;
  ASSERT_EQ(afc_file_open(afc_.get(), "/Downloads/notes.txt", AFC_FOPEN_WR, &handle), AFC_E_SUCCESS);
  uint32_t count = 0;
  ASSERT_EQ(afc_file_write(afc_.get(), handle, "hello, device", 13, &count), AFC_E_SUCCESS);
  EXPECT_EQ(count, 13u);
  ASSERT_EQ(afc_file_seek(afc_.get(), handle, 7, SEEK_SET), AFC_E_SUCCESS);
  uint64_t position = 0;
  ASSERT_EQ(afc_file_tell(afc_.get(), handle, &position), AFC_E_SUCCESS);
  EXPECT_EQ(position, 7u);
  char buffer[32] = {};
  ASSERT_EQ(afc_file_read(afc_.get(), handle, buffer, sizeof(buffer), &count), AFC_E_SUCCESS);
  EXPECT_EQ(std::string(buffer, count), "device");
  ASSERT_EQ(afc_file_seek(afc_.get(), handle, -6, SEEK_END), AFC_E_SUCCESS);
  ASSERT_EQ(afc_file_write(afc_.get(), handle, "iPhone", 6, &count), AFC_E_SUCCESS);
  ASSERT_EQ(afc_file_truncate(afc_.get(), handle, 12), AFC_E_SUCCESS);
  ASSERT_EQ(afc_file_close(afc_.get(), handle), AFC_E_SUCCESS);

  std::string local;
  ASSERT_TRUE(kst::ReadWholeFile(Local("/Downloads/notes.txt"), &local));
  EXPECT_EQ(local, "hello, iPhon");
  ASSERT_EQ(afc_truncate(afc_.get(), "/Downloads/notes.txt", 5), AFC_E_SUCCESS);
  std::string content;
  ASSERT_EQ(afc_.ReadFile("/Downloads/notes.txt", &content), AFC_E_SUCCESS);
  EXPECT_EQ(content, "hello");
  ASSERT_EQ(afc_file_open(afc_.get(), "/Downloads/notes.txt", AFC_FOPEN_APPEND, &handle), AFC_E_SUCCESS);
  ASSERT_EQ(afc_file_write(afc_.get(), handle, "!", 1, &count), AFC_E_SUCCESS);
  EXPECT_EQ(afc_file_lock(afc_.get(), handle, AFC_LOCK_EX), AFC_E_SUCCESS);
  EXPECT_EQ(afc_file_lock(afc_.get(), handle, AFC_LOCK_UN), AFC_E_SUCCESS);
  afc_file_close(afc_.get(), handle);
  ASSERT_EQ(afc_.ReadFile("/Downloads/notes.txt", &content), AFC_E_SUCCESS);
  EXPECT_EQ(content, "hello!");
}

TEST_F(AfcClientTest, LargeFilesRoundTripByteForByte) {
  std::string data(5 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) ^ (i >> 9));
  ASSERT_EQ(afc_.WriteFile("/Downloads/big.bin", data), AFC_E_SUCCESS);
  std::string back;
  ASSERT_EQ(afc_.ReadFile("/Downloads/big.bin", &back), AFC_E_SUCCESS);
  EXPECT_TRUE(back == data);
}

TEST_F(AfcClientTest, MakesRenamesAndRemovesPaths) {
  ASSERT_EQ(afc_make_directory(afc_.get(), "/Recordings/2023/November"), AFC_E_SUCCESS);
  EXPECT_EQ(afc_make_directory(afc_.get(), "/Recordings/2023"), AFC_E_SUCCESS);
  ASSERT_EQ(afc_.WriteFile("/Recordings/2023/November/memo.m4a", "audio"), AFC_E_SUCCESS);
  ASSERT_EQ(afc_rename_path(afc_.get(), "/Recordings/2023", "/Recordings/Archive"), AFC_E_SUCCESS);
  EXPECT_TRUE(kst::PathExists(Local("/Recordings/Archive/November/memo.m4a")));
  EXPECT_EQ(afc_remove_path(afc_.get(), "/Recordings/Archive"), AFC_E_DIR_NOT_EMPTY);
  ASSERT_EQ(afc_remove_path(afc_.get(), "/Recordings/Archive/November/memo.m4a"), AFC_E_SUCCESS);
  ASSERT_EQ(afc_.WriteFile("/Recordings/Archive/again.m4a", "audio"), AFC_E_SUCCESS);
  ASSERT_EQ(afc_remove_path_and_contents(afc_.get(), "/Recordings/Archive"), AFC_E_SUCCESS);
  EXPECT_FALSE(kst::PathExists(Local("/Recordings/Archive")));
  ASSERT_EQ(afc_make_link(afc_.get(), AFC_SYMLINK, "../DCIM/100APPLE/IMG_0001.JPG", "/Books/cover.jpg"),
            AFC_E_SUCCESS);
  std::map<std::string, std::string> link = Info("/Books/cover.jpg");
  EXPECT_EQ(link["st_ifmt"], "S_IFLNK");
  EXPECT_EQ(link["LinkTarget"], "../DCIM/100APPLE/IMG_0001.JPG");
  std::string through_link;
  EXPECT_EQ(afc_.ReadFile("/Books/cover.jpg", &through_link), AFC_E_SUCCESS);
  EXPECT_EQ(through_link.size(), static_cast<size_t>(kst::FileSize(Local("/DCIM/100APPLE/IMG_0001.JPG"))));
  ASSERT_EQ(afc_set_file_time(afc_.get(), "/Books/Novel.epub/mimetype", 1000000000ULL * 1600000000ULL),
            AFC_E_SUCCESS);
  EXPECT_EQ(Info("/Books/Novel.epub/mimetype")["st_mtime"], "1600000000000000000");
}

TEST_F(AfcClientTest, FailuresCarryTheAfcErrorNumbers) {
  uint64_t handle = 0;
  afc_error_t error = AFC_E_SUCCESS;
  EXPECT_EQ(afc_file_open(afc_.get(), "/missing.txt", AFC_FOPEN_RDONLY, &handle), AFC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(afc_file_open(afc_.get(), "/DCIM", AFC_FOPEN_RDONLY, &handle), AFC_E_OBJECT_IS_DIR);
  Info("/missing.txt", &error);
  EXPECT_EQ(error, AFC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(afc_remove_path(afc_.get(), "/missing.txt"), AFC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(afc_rename_path(afc_.get(), "/missing.txt", "/other.txt"), AFC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(afc_make_directory(afc_.get(), "/DCIM/100APPLE/IMG_0001.JPG"), AFC_E_OBJECT_EXISTS);
  EXPECT_EQ(afc_truncate(afc_.get(), "/DCIM", 0), AFC_E_OBJECT_IS_DIR);
  EXPECT_EQ(afc_remove_path(afc_.get(), "/"), AFC_E_PERM_DENIED);
  char** list = nullptr;
  EXPECT_EQ(afc_read_directory(afc_.get(), "/nowhere", &list), AFC_E_OBJECT_NOT_FOUND);
  ASSERT_EQ(afc_file_open(afc_.get(), "/DCIM/100APPLE/IMG_0001.JPG", AFC_FOPEN_RDONLY, &handle), AFC_E_SUCCESS);
  uint32_t count = 0;
  EXPECT_EQ(afc_file_write(afc_.get(), handle, "x", 1, &count), AFC_E_PERM_DENIED);
  afc_file_close(afc_.get(), handle);
  EXPECT_NE(afc_file_close(afc_.get(), handle), AFC_E_SUCCESS);
}

TEST_F(AfcClientTest, EscapesAreRefusedAndTouchNothingOutside) {
  std::string outside = vd_.folder() + "/outside.txt";
  ASSERT_TRUE(kst::WriteWholeFile(outside, "keep"));
  uint64_t handle = 0;
  char** list = nullptr;
  EXPECT_EQ(afc_file_open(afc_.get(), "../../outside.txt", AFC_FOPEN_RDONLY, &handle), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_file_open(afc_.get(), "/../../outside.txt", AFC_FOPEN_WRONLY, &handle), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_read_directory(afc_.get(), "/..", &list), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_remove_path(afc_.get(), "/../../outside.txt"), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_rename_path(afc_.get(), "/Books", "/../../stolen"), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_truncate(afc_.get(), "/DCIM/../../../outside.txt", 0), AFC_E_PERM_DENIED);
  // A link may point anywhere, but nothing is done through one that leaves the tree.
  ASSERT_EQ(afc_make_link(afc_.get(), AFC_SYMLINK, outside.c_str(), "/Downloads/door"), AFC_E_SUCCESS);
  EXPECT_EQ(afc_file_open(afc_.get(), "/Downloads/door", AFC_FOPEN_WRONLY, &handle), AFC_E_PERM_DENIED);
  EXPECT_EQ(afc_make_link(afc_.get(), AFC_HARDLINK, "/../../outside.txt", "/Downloads/hard"), AFC_E_PERM_DENIED);
  std::string kept;
  ASSERT_TRUE(kst::ReadWholeFile(outside, &kept));
  EXPECT_EQ(kept, "keep");
  EXPECT_TRUE(kst::PathExists(Local("/Books")));
  EXPECT_NE(vd_.ServerLog().find("refused path outside the served folder"), std::string::npos);
}

TEST_F(AfcClientTest, ManyClientsWorkConcurrently) {
  constexpr int kClients = 8;
  std::vector<std::thread> threads;
  std::vector<int> failures(kClients, 0);
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([this, i, &failures] {
      DeviceSession session;
      AfcSession afc;
      if (session.Open(udid_) != LOCKDOWN_E_SUCCESS || afc.Open(session) != 0) {
        failures[i] = 1;
        return;
      }
      std::string path = "/Downloads/client" + std::to_string(i);
      std::string content(100000 + i, static_cast<char>('a' + i));
      for (int round = 0; round < 5; ++round) {
        std::string back;
        if (afc.WriteFile(path, content) != AFC_E_SUCCESS || afc.ReadFile(path, &back) != AFC_E_SUCCESS ||
            back != content) {
          failures[i] = 2;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kClients, 0));
}

}  // namespace
}  // namespace vdevice_test
