// The device layer in this process against the simulated device: monitor, shared handles, AFC.
#include <gtest/gtest.h>

#include <filesystem>

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/mobile_export_fun.h"
#include "utility/module/media/kor_media_device_paths.h"
#include "platform/kst_fs.h"
#include "shared_device.h"

namespace {

using namespace std::chrono_literals;

using DeviceLayerTest = DeviceAfcTest;

TEST_F(DeviceLayerTest, DeviceInformationComesFromLockdownAndAfc) {
  KorDeviceInfo info = device->Info();
  EXPECT_EQ(info.unique_device_id, vdevice_test::VdeviceFixture::ProfileUdid(Shared().profile));
  EXPECT_EQ(info.device_class, "iPhone");
  EXPECT_EQ(info.version_number, KorVersionNumber(info.product_version));
  EXPECT_GE(info.version_number, 160u);
  EXPECT_FALSE(info.model.empty());
  EXPECT_GT(info.fs_total_bytes, info.fs_free_bytes);
  EXPECT_GT(info.fs_free_bytes, 0);
  EXPECT_FALSE(info.unique_chip_id.empty());
  EXPECT_EQ(device->State(), kKorDeviceReady);
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice("no-such-udid", device->HandleCode()), device);
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice("no-such-udid", static_cast<int32_t>(device->HandleCode())), device);
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice(info.unique_device_id, INT64_MIN), device);
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice("no-such-udid", int64_t{1} << 40), nullptr);
}

TEST_F(DeviceLayerTest, ModulesShareOneAfcServiceAndGetANewOneAfterRelease) {
  int result = -1;
  auto first = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  auto second = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  EXPECT_EQ(first, afc_service);
  EXPECT_EQ(second, afc_service);
  std::weak_ptr<KorDeviceService> old = afc_service;
  first.reset();
  second.reset();
  afc_service.reset();
  EXPECT_TRUE(old.expired());
  auto fresh = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
  ASSERT_TRUE(fresh);
  afc = fresh->Afc();
  KorAfcFileInfo info;
  EXPECT_TRUE(KorAfcStat(afc, root, &info));
  afc_service = fresh;
}

TEST_F(DeviceLayerTest, OtherServicesStartAnewEachTime) {
  int result = -1;
  auto a = KorDeviceHandles::Get().GetService(device->Device(), &result, "com.apple.mobile.diagnostics_relay", nullptr,
                                              false);
  auto b = KorDeviceHandles::Get().GetService(device->Device(), &result, "com.apple.mobile.diagnostics_relay", nullptr,
                                              false);
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->Afc(), nullptr);
  auto missing = KorDeviceHandles::Get().GetService(device->Device(), &result, "com.example.no.such.service", nullptr,
                                                    false);
  EXPECT_FALSE(missing);
}

TEST_F(DeviceLayerTest, StatReportsTypeSizeAndWholeSecondTimes) {
  ASSERT_TRUE(Put(root + "/file.txt", "0123456789"));
  KorAfcFileInfo info;
  ASSERT_TRUE(KorAfcStat(afc, root + "/file.txt", &info));
  EXPECT_EQ(info.type, "S_IFREG");
  EXPECT_EQ(info.size, 10);
  auto local_time = std::filesystem::last_write_time(LocalOf(root + "/file.txt"));
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::file_clock::to_sys(local_time).time_since_epoch())
                     .count();
  EXPECT_EQ(info.modify_time, seconds);
  KorAfcFileInfo folder;
  ASSERT_TRUE(KorAfcStat(afc, root, &folder));
  EXPECT_EQ(folder.type, "S_IFDIR");
  KorAfcFileInfo none;
  EXPECT_FALSE(KorAfcStat(afc, root + "/missing", &none));
}

// Enough paths for several windows of requests in flight and more than one locked stretch.
TEST_F(DeviceLayerTest, BatchedStatAnswersLikeOneStatPerPath) {
  std::vector<std::string> paths;
  for (int i = 0; i < 700; ++i) {
    const std::string path = root + "/song" + std::to_string(i) + ".mp3";
    paths.push_back(path);
    if (i % 50 == 7) continue;  // missing in the middle
    ASSERT_TRUE(kst::WriteWholeFile(LocalOf(path), std::string(static_cast<size_t>(i), 'x')));
  }
  ASSERT_TRUE(kst::CreateDirectories(LocalOf(root + "/album.mp3")));
  paths[300] = root + "/album.mp3";
  // This framework pipelines the batch; the per-path answers must not show it.
  ASSERT_NE(MobileExtensions().AFCFileInfoOpenBatch, nullptr);
  std::vector<KorAfcFileInfo> infos;
  std::vector<bool> found;
  KorAfcStatBatch(afc, paths, &infos, &found);
  ASSERT_EQ(infos.size(), paths.size());
  ASSERT_EQ(found.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    KorAfcFileInfo one;
    EXPECT_EQ(found[i], KorAfcStat(afc, paths[i], &one)) << paths[i];
    EXPECT_EQ(infos[i].type, one.type) << paths[i];
    EXPECT_EQ(infos[i].size, one.size) << paths[i];
    EXPECT_EQ(infos[i].modify_time, one.modify_time) << paths[i];
  }
  EXPECT_FALSE(found[7]);
  EXPECT_EQ(infos[300].type, "S_IFDIR");
  EXPECT_EQ(infos[301].size, 301);

  // The media listing's view of the same paths: sizes of regular files only, and names without an
  // extension are never asked about.
  paths.push_back(root + "/song1");
  ASSERT_TRUE(kst::WriteWholeFile(LocalOf(root + "/song1"), "x"));
  std::vector<std::optional<int64_t>> sizes = KorRegularFileSizes(afc, paths);
  ASSERT_EQ(sizes.size(), paths.size());
  EXPECT_EQ(sizes[1], 1);
  EXPECT_EQ(sizes[699], 699);
  EXPECT_FALSE(sizes[7]);
  EXPECT_FALSE(sizes[300]);
  EXPECT_FALSE(sizes.back());
}

TEST_F(DeviceLayerTest, DownloadsToMemoryAndFileIncludingEmptyFiles) {
  std::string content(5 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 % 251);
  ASSERT_TRUE(Put(root + "/big.bin", content));
  std::string in_memory;
  ASSERT_TRUE(KorAfcDownload(afc, root + "/big.bin", "", &in_memory));
  EXPECT_EQ(in_memory, content);
  std::string local = temp.Path() + "/big.copy";
  ASSERT_TRUE(KorAfcDownload(afc, root + "/big.bin", local, nullptr));
  std::string copied;
  ASSERT_TRUE(kst::ReadWholeFile(local, &copied));
  EXPECT_EQ(copied, content);

  // A copy over a larger earlier one leaves exactly the new content.
  ASSERT_TRUE(Put(root + "/small.bin", "fresh"));
  ASSERT_TRUE(KorAfcDownload(afc, root + "/small.bin", local, nullptr));
  ASSERT_TRUE(kst::ReadWholeFile(local, &copied));
  EXPECT_EQ(copied, "fresh");

  ASSERT_TRUE(Put(root + "/empty", ""));
  std::string empty_local = temp.Path() + "/empty.copy";
  ASSERT_TRUE(KorAfcDownload(afc, root + "/empty", empty_local, nullptr));
  EXPECT_EQ(kst::FileSize(empty_local), 0);
  ASSERT_TRUE(KorAfcDownload(afc, root + "/empty", local, nullptr));
  EXPECT_EQ(kst::FileSize(local), 0);
  EXPECT_FALSE(KorAfcDownload(afc, root + "/missing", temp.Path() + "/never", nullptr));
  EXPECT_FALSE(kst::PathExists(temp.Path() + "/never"));
}

TEST_F(DeviceLayerTest, ListingDoesNotDoubleATrailingSlash) {
  ASSERT_TRUE(KorAfcMakeDirectory(afc, root + "/sub"));
  auto children = KorAfcListDirectory(afc, root + "/");
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0], root + "/sub");
  EXPECT_TRUE(KorAfcMakeDirectory(afc, root + "/sub"));  // already a directory
}

TEST_F(DeviceLayerTest, RemoveTreeHonoursItsFlags) {
  ASSERT_TRUE(KorAfcMakeDirectory(afc, root + "/t"));
  ASSERT_TRUE(KorAfcMakeDirectory(afc, root + "/t/a"));
  ASSERT_TRUE(Put(root + "/t/a/f1", "x"));
  ASSERT_TRUE(Put(root + "/t/f2", "y"));
  EXPECT_FALSE(KorAfcRemoveTree(afc, root + "/t/f2", true, true));  // a file is not a tree
  EXPECT_TRUE(kst::PathExists(LocalOf(root + "/t/f2")));
  EXPECT_FALSE(KorAfcRemoveTree(afc, root + "/t", false, false));  // emptied, kept
  EXPECT_TRUE(kst::IsDirectory(LocalOf(root + "/t")));
  EXPECT_TRUE(KorAfcListDirectory(afc, root + "/t").empty());
  EXPECT_TRUE(KorAfcRemoveTree(afc, root + "/t", false, true));
  EXPECT_FALSE(kst::PathExists(LocalOf(root + "/t")));
}

TEST_F(DeviceLayerTest, DownloadTreeCopiesFoldersAndFiles) {
  ASSERT_TRUE(KorAfcMakeDirectory(afc, root + "/book.epub"));
  ASSERT_TRUE(KorAfcMakeDirectory(afc, root + "/book.epub/OEBPS"));
  ASSERT_TRUE(Put(root + "/book.epub/mimetype", "application/epub+zip"));
  ASSERT_TRUE(Put(root + "/book.epub/OEBPS/ch1.html", "<html/>"));
  std::string local = temp.Path() + "/book.epub";
  ASSERT_TRUE(kst::CreateDirectories(local));
  ASSERT_TRUE(KorAfcDownloadTree(afc, root + "/book.epub", local));
  std::string text;
  ASSERT_TRUE(kst::ReadWholeFile(local + "/mimetype", &text));
  EXPECT_EQ(text, "application/epub+zip");
  ASSERT_TRUE(kst::ReadWholeFile(local + "/OEBPS/ch1.html", &text));
  EXPECT_EQ(text, "<html/>");
}

}  // namespace
