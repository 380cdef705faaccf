// The device layer in this process against the simulated device: monitor, shared handles, AFC.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "iOSAPI/kor_afc.h"
#include "iOSAPI/mobile_export_fun.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "platform/qr_task_pool.h"
#include "tandrel_harness.h"
#include "utility/ios/kor_device_monitor.h"
#include "vdevice_fixture.h"

namespace {

using namespace std::chrono_literals;

// Records the devices the monitor reports ready.
class ReadyObserver : public KorDeviceCallback {
 public:
  void OnDeviceEvent(const std::shared_ptr<KorDevice>& device, uint32_t event) override {
    if (event != kKorDeviceEventReady) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ready_ = device;
    signal_.notify_all();
  }
  std::shared_ptr<KorDevice> WaitReady(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    signal_.wait_for(lock, timeout, [this] { return ready_ != nullptr; });
    return ready_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  std::shared_ptr<KorDevice> ready_;
};

// One simulated demo iPhone and one device monitor for the whole test process.
struct SharedDevice {
  vdevice_test::VdeviceFixture vd;
  std::string profile;
  ReadyObserver observer;
  std::shared_ptr<KorDevice> device;

  SharedDevice() {
    profile = vd.MakeProfile("demo");
    if (!vd.Start({profile})) return;
    vd.ExportSocketAddress();
    kst::SetEnv("TANDREL_REGISTRY", std::string(TANDREL_LIB_DIR) + "/../etc/tandrel/registry.json");
    QrTaskPool::Get().Activate(4);
    KorDeviceMonitor::Get().RegisterObserver(&observer);
    {
      std::lock_guard<std::mutex> lock(KorDeviceMonitor::Get().Lock());
      if (KorDeviceMonitor::Get().StartMonitoring() != 0) return;
    }
    device = observer.WaitReady(30s);
  }
};

SharedDevice& Shared() {
  // Lives as long as the monitor's threads; only its server is stopped when the process ends.
  static SharedDevice* shared = [] {
    auto* made = new SharedDevice();
    std::atexit([] { Shared().vd.Stop(); });
    return made;
  }();
  return *shared;
}

class DeviceLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device = Shared().device;
    ASSERT_TRUE(device) << Shared().vd.ServerLog();
    int result = -1;
    afc_service = KorDeviceHandles::Get().GetService(device->Device(), &result, kKorAfcService, nullptr, true);
    ASSERT_TRUE(afc_service);
    afc = afc_service->Afc();
    root = "/TandrelTest-" + std::to_string(kst::CurrentProcessId()) + "-" + std::to_string(++counter);
    ASSERT_TRUE(KorAfcMakeDirectory(afc, root));
  }
  void TearDown() override {
    if (afc) KorAfcRemoveTree(afc, root, true, true);
  }
  std::string LocalOf(const std::string& device_path) const { return Shared().profile + "/afc" + device_path; }
  bool Put(const std::string& device_path, const std::string& content) {
    std::string local = temp.Path() + "/upload";
    return kst::WriteWholeFile(local, content) && KorAfcUpload(afc, local, device_path);
  }

  static inline int counter = 0;
  std::shared_ptr<KorDevice> device;
  std::shared_ptr<KorDeviceService> afc_service;
  AFCConnectionRef afc = nullptr;
  std::string root;
  harness::TempFolder temp;
};

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
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice(info.unique_device_id, -1), device);
  EXPECT_EQ(KorDeviceMonitor::Get().FindDevice("no-such-udid", -1), nullptr);
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

  ASSERT_TRUE(Put(root + "/empty", ""));
  std::string empty_local = temp.Path() + "/empty.copy";
  ASSERT_TRUE(KorAfcDownload(afc, root + "/empty", empty_local, nullptr));
  EXPECT_EQ(kst::FileSize(empty_local), 0);
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
