// The MobileDevice side against the simulated iPhone (tools/vdevice): notifications on the run
// loop thread, pairing and trust, locked devices, lockdown values, services and AFC.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <atomic>
#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "framework_loader.h"
#include "vdevice_fixture.h"

namespace devicefw_test {
namespace {

using namespace std::chrono_literals;

struct Notification {
  AMDeviceRef device;
  uint32_t message;
  std::thread::id thread;
};

// Subscribes, records every notification and (unless another log already does) runs
// CFRunLoopRun on its own thread.
class NotificationLog {
 public:
  explicit NotificationLog(bool run_loop = true) {
    if (run_loop) StartLoop();
    EXPECT_EQ(Fw().AMDeviceNotificationSubscribe(&NotificationLog::Callback, 0, 0, this, &subscription_), kAMDSuccess);
  }
  ~NotificationLog() {
    Fw().AMDeviceNotificationUnsubscribe(subscription_);
    if (loop_.joinable()) {
      Fw().KorRunLoopStop();
      loop_.join();
    }
  }
  std::thread::id loop_thread() const { return loop_.get_id(); }

  // The first notification with `message` (for `device` when given) seen so far or within 10 s.
  std::optional<Notification> WaitFor(uint32_t message, AMDeviceRef device = nullptr) {
    std::unique_lock lock(mutex_);
    std::optional<Notification> found;
    changed_.wait_for(lock, 10s, [&] {
      for (const Notification& seen : seen_) {
        if (seen.message == message && (device == nullptr || seen.device == device)) {
          found = seen;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
  }

 private:
  // Returns once the loop runs, so that a later stop cannot come before it.
  void StartLoop() {
    loop_ = std::thread([] { Fw().CFRunLoopRun(); });
    Fw().KorRunLoopPost(
        [](void* context) {
          auto* log = static_cast<NotificationLog*>(context);
          std::lock_guard lock(log->mutex_);
          log->loop_running_ = true;
          log->changed_.notify_all();
        },
        this);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return loop_running_; });
  }

  static void Callback(am_device_notification_callback_info* info, void* cookie) {
    auto* log = static_cast<NotificationLog*>(cookie);
    std::lock_guard lock(log->mutex_);
    log->seen_.push_back({info->dev, info->msg, std::this_thread::get_id()});
    log->changed_.notify_all();
  }

  std::thread loop_;
  AMDeviceNotificationRef subscription_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> seen_;
  bool loop_running_ = false;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Fw().error, ""); }

  // Starts vdevice with one profile of `kind` and waits for its arrival.
  AMDeviceRef StartWith(const std::string& kind,
                        const std::function<void(rapidjson::Document&)>& edit_profile = nullptr) {
    profile_ = vd_.MakeProfile(kind);
    udid_ = vdevice_test::VdeviceFixture::ProfileUdid(profile_);
    if (edit_profile && !vdevice_test::VdeviceFixture::EditDeviceJson(profile_, edit_profile)) return nullptr;
    if (!vd_.Start({profile_})) return nullptr;
    vd_.ExportSocketAddress();
    log_ = std::make_unique<NotificationLog>();
    std::optional<Notification> arrival = log_->WaitFor(ADNCI_MSG_CONNECTED);
    return arrival ? arrival->device : nullptr;
  }

  // Connect, pair when needed, validate and start a session, as the host opens a device.
  static mach_error_t OpenSession(AMDeviceRef device) {
    if (mach_error_t result = Fw().AMDeviceConnect(device); result != kAMDSuccess) return result;
    if (!Fw().AMDeviceIsPaired(device)) {
      if (mach_error_t result = Fw().AMDevicePair(device); result != kAMDSuccess) return result;
    }
    if (mach_error_t result = Fw().AMDeviceValidatePairing(device); result != kAMDSuccess) return result;
    return Fw().AMDeviceStartSession(device);
  }

  static AMDServiceConnectionRef StartService(AMDeviceRef device, const char* name, CFDictionaryRef options = nullptr) {
    AMDServiceConnectionRef connection = nullptr;
    EXPECT_EQ(Fw().AMDeviceSecureStartService(device, Fw().__CFStringMakeConstantString(name), options, &connection),
              kAMDSuccess);
    return connection;
  }

  void TearDown() override {
    log_.reset();
    vd_.Stop();
  }

  vdevice_test::VdeviceFixture vd_;
  std::string profile_, udid_;
  std::unique_ptr<NotificationLog> log_;
};

// ---- notifications ------------------------------------------------------------------------

TEST_F(DeviceTest, ArrivalAndDepartureComeOnTheRunLoopThreadWithOneHandlePerAttachment) {
  AMDeviceRef device = StartWith("demo");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  std::optional<Notification> arrival = log_->WaitFor(ADNCI_MSG_CONNECTED, device);
  EXPECT_EQ(arrival->thread, log_->loop_thread());
  EXPECT_EQ(Fw().AMDeviceGetInterfaceType(device), kAMDInterfaceUSB);
  EXPECT_NE(Fw().AMDeviceGetConnectionID(device), 0u);

  ASSERT_TRUE(vd_.Detach(udid_));
  std::optional<Notification> departure = log_->WaitFor(ADNCI_MSG_DISCONNECTED);
  ASSERT_TRUE(departure);
  EXPECT_EQ(departure->device, device);
  EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(departure->device)),
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)));
  EXPECT_EQ(departure->thread, log_->loop_thread());
  // The host may still hold the handle: calls fail cleanly.
  EXPECT_EQ(Fw().AMDeviceConnect(device), kAMDDeviceDisconnectedError);
  EXPECT_EQ(Fw().AMDeviceCopyValue(device, nullptr, Fw().__CFStringMakeConstantString("DeviceName")), nullptr);
  EXPECT_EQ(Fw().AMDeviceGetInterfaceType(device), kAMDInterfaceUSB);

  log_->Clear();
  ASSERT_TRUE(vd_.Attach(profile_));
  std::optional<Notification> again = log_->WaitFor(ADNCI_MSG_CONNECTED);
  ASSERT_TRUE(again);
  EXPECT_NE(again->device, device);  // a new attachment gets a new handle
  EXPECT_EQ(Fw().AMDeviceConnect(again->device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceDisconnect(again->device), kAMDSuccess);
}

TEST_F(DeviceTest, DevicePresentBeforeASecondSubscriptionIsAnnouncedWithTheSameHandle) {
  AMDeviceRef device = StartWith("demo");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  NotificationLog second(/*run_loop=*/false);
  std::optional<Notification> arrival = second.WaitFor(ADNCI_MSG_CONNECTED);
  ASSERT_TRUE(arrival);
  EXPECT_EQ(arrival->device, device);
}

TEST_F(DeviceTest, NetworkDeviceReportsInterfaceTypeTwo) {
  AMDeviceRef device = StartWith("network");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  EXPECT_EQ(Fw().AMDeviceGetInterfaceType(device), kAMDInterfaceNetwork);
}

// ---- pairing, trust, lock -----------------------------------------------------------------

TEST_F(DeviceTest, UntrustedDevicePairsOnlyOnceTheUserTrustsIt) {
  AMDeviceRef device = StartWith("untrusted");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  ASSERT_EQ(Fw().AMDeviceConnect(device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceIsPaired(device), 0);
  EXPECT_EQ(Fw().AMDevicePair(device), kAMDPairingDialogResponsePendingError);
  EXPECT_NE(Fw().AMDeviceStartSession(device), kAMDSuccess);
  ASSERT_TRUE(vd_.Trust(udid_, "deny"));
  EXPECT_EQ(Fw().AMDevicePair(device), kAMDUserDeniedPairingError);
  EXPECT_EQ(Fw().AMDeviceIsPaired(device), 0);
  ASSERT_TRUE(vd_.Trust(udid_, "on"));
  EXPECT_EQ(Fw().AMDevicePair(device), kAMDSuccess);
  EXPECT_NE(Fw().AMDeviceIsPaired(device), 0);
  EXPECT_TRUE(log_->WaitFor(ADNCI_MSG_TRUSTED, device));
  EXPECT_EQ(Fw().AMDeviceValidatePairing(device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceStartSession(device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceStopSession(device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceDisconnect(device), kAMDSuccess);
}

TEST_F(DeviceTest, LockedDeviceRefusesServicesWithPasswordProtected) {
  AMDeviceRef device = StartWith("locked");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  // A locked phone does not pair either: pair while unlocked, then lock it again.
  ASSERT_TRUE(vd_.Lock(udid_, false));
  ASSERT_EQ(OpenSession(device), kAMDSuccess);
  ASSERT_TRUE(vd_.Lock(udid_, true));
  AMDServiceConnectionRef connection = nullptr;
  EXPECT_EQ(Fw().AMDeviceSecureStartService(device, Fw().__CFStringMakeConstantString("com.apple.afc"), nullptr, &connection),
            static_cast<mach_error_t>(0xE800001A));
  EXPECT_EQ(connection, nullptr);
  ASSERT_TRUE(vd_.Lock(udid_, false));
  connection = StartService(device, "com.apple.afc");
  ASSERT_NE(connection, nullptr) << vd_.ServerLog();
  EXPECT_EQ(Fw().AMDServiceConnectionInvalidate(connection), kAMDSuccess);
}

// ---- lockdown values and sessions --------------------------------------------------------------

TEST_F(DeviceTest, CopyAndSetValues) {
  AMDeviceRef device = StartWith("demo", [](rapidjson::Document& profile) {
    rapidjson::Value refused(rapidjson::kArrayType);
    refused.PushBack("TimeZone", profile.GetAllocator());
    profile.RemoveMember("refused_set_values");
    profile.AddMember("refused_set_values", refused, profile.GetAllocator());
  });
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  ASSERT_EQ(OpenSession(device), kAMDSuccess);
  CfRef udid(Fw().AMDeviceCopyValue(device, nullptr, Fw().__CFStringMakeConstantString("UniqueDeviceID")));
  EXPECT_EQ(TextOf(udid.get()), udid_);
  CfRef chip(Fw().AMDeviceCopyValue(device, nullptr, Fw().__CFStringMakeConstantString("UniqueChipID")));
  ASSERT_EQ(Fw().CFGetTypeID(chip.get()), kCFTypeIDNumber);
  EXPECT_EQ(Fw().CFNumberGetType(chip.get<CFNumberRef>()), kCFNumberSInt64Type);
  CfRef everything(Fw().AMDeviceCopyValue(device, nullptr, nullptr));
  ASSERT_EQ(Fw().CFGetTypeID(everything.get()), kCFTypeIDDictionary);
  EXPECT_TRUE(Fw().CFDictionaryContainsKey(everything.get<CFDictionaryRef>(), MakeString("ProductVersion").get()));
  EXPECT_EQ(Fw().AMDeviceCopyValue(device, nullptr, Fw().__CFStringMakeConstantString("NoSuchKey")), nullptr);

  CfRef name = MakeString("Renamed \xE2\x9C\x93");
  EXPECT_EQ(Fw().AMDeviceSetValue(device, nullptr, Fw().__CFStringMakeConstantString("DeviceName"), name.get()),
            kAMDSuccess);
  CfRef renamed(Fw().AMDeviceCopyValue(device, nullptr, Fw().__CFStringMakeConstantString("DeviceName")));
  EXPECT_EQ(TextOf(renamed.get()), "Renamed \xE2\x9C\x93");
  EXPECT_EQ(Fw().AMDeviceSetValue(device, nullptr, Fw().__CFStringMakeConstantString("TimeZone"), name.get()),
            kAMDSetProhibitedError);

  // Sessions are counted: stopping one of two keeps the other usable.
  EXPECT_EQ(Fw().AMDeviceStartSession(device), kAMDSuccess);
  EXPECT_EQ(Fw().AMDeviceStopSession(device), kAMDSuccess);
  AMDServiceConnectionRef afc = StartService(device, "com.apple.afc");
  EXPECT_NE(afc, nullptr);
  if (afc != nullptr) Fw().AMDServiceConnectionInvalidate(afc);
  AMDServiceConnectionRef unknown = nullptr;
  EXPECT_EQ(Fw().AMDeviceSecureStartService(device, Fw().__CFStringMakeConstantString("com.example.none"), nullptr, &unknown),
            kAMDInvalidServiceError);
}

TEST_F(DeviceTest, ServiceConnectionsSendAndReceiveMessages) {
  AMDeviceRef device = StartWith("demo");
  ASSERT_NE(device, nullptr) << vd_.ServerLog();
  ASSERT_EQ(OpenSession(device), kAMDSuccess);
  const void* key = Fw().__CFStringMakeConstantString("UnlockEscrowBag");
  const void* value = Fw().kCFBooleanTrue;
  CfRef options(Fw().CFDictionaryCreate(nullptr, &key, &value, 1, nullptr, nullptr));
  AMDServiceConnectionRef relay = StartService(device, "com.apple.mobile.diagnostics_relay", options.get<CFDictionaryRef>());
  ASSERT_NE(relay, nullptr);
  EXPECT_EQ(Fw().AMDServiceConnectionGetSecureIOContext(relay), nullptr);
  EXPECT_GE(Fw().AMDServiceConnectionGetSocket(relay), 0);

  // {"Request": "Goodbye"} as a length-prefixed binary property list.
  const void* request_key = Fw().__CFStringMakeConstantString("Request");
  const void* request_value = Fw().__CFStringMakeConstantString("Goodbye");
  CfRef request(Fw().CFDictionaryCreate(nullptr, &request_key, &request_value, 1, nullptr, nullptr));
  CfRef stream(Fw().CFWriteStreamCreateWithAllocatedBuffers(nullptr, nullptr));
  ASSERT_TRUE(Fw().CFWriteStreamOpen(stream.get<CFWriteStreamRef>()));
  ASSERT_GT(Fw().CFPropertyListWriteToStream(request.get(), stream.get<CFWriteStreamRef>(), kCFPropertyListBinaryFormat_v1_0, nullptr), 0);
  CfRef bytes(Fw().CFWriteStreamCopyProperty(stream.get<CFWriteStreamRef>(), Fw().kCFStreamPropertyDataWritten));
  const auto length = static_cast<uint32_t>(Fw().CFDataGetLength(bytes.get<CFDataRef>()));
  const uint8_t prefix[4] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  ASSERT_EQ(Fw().AMDServiceConnectionSend(relay, prefix, 4), 4);
  ASSERT_EQ(Fw().AMDServiceConnectionSend(relay, Fw().CFDataGetBytePtr(bytes.get<CFDataRef>()), length), length);

  uint8_t reply_prefix[4];
  ASSERT_EQ(Fw().AMDServiceConnectionReceive(relay, reply_prefix, 4), 4);
  const uint32_t reply_length = (uint32_t{reply_prefix[0]} << 24) | (uint32_t{reply_prefix[1]} << 16) |
                                (uint32_t{reply_prefix[2]} << 8) | reply_prefix[3];
  ASSERT_GT(reply_length, 0u);
  ASSERT_LT(reply_length, 1u << 20);
  std::vector<uint8_t> reply(reply_length);
  size_t got = 0;
  while (got < reply.size()) {
    const int64_t n = Fw().AMDServiceConnectionReceive(relay, reply.data() + got, reply.size() - got);
    ASSERT_GT(n, 0);
    got += static_cast<size_t>(n);
  }
  CfRef reply_data(Fw().CFDataCreate(nullptr, reply.data(), static_cast<CFIndex>(reply.size())));
  CfRef message(Fw().CFPropertyListCreateWithData(nullptr, reply_data.get<CFDataRef>(), 0, nullptr, nullptr));
  ASSERT_EQ(Fw().CFGetTypeID(message.get()), kCFTypeIDDictionary);
  EXPECT_EQ(TextOf(Fw().CFDictionaryGetValue(message.get<CFDictionaryRef>(), MakeString("Status").get())), "Success");
  EXPECT_EQ(Fw().AMDServiceConnectionInvalidate(relay), kAMDSuccess);
}

// ---- AFC --------------------------------------------------------------------------------------

class AfcOnDevice : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    device_ = StartWith("demo");
    ASSERT_NE(device_, nullptr) << vd_.ServerLog();
    ASSERT_EQ(OpenSession(device_), kAMDSuccess);
    service_ = StartService(device_, "com.apple.afc");
    ASSERT_NE(service_, nullptr) << vd_.ServerLog();
    ASSERT_EQ(Fw().AMDServiceConnectionGetSecureIOContext(service_), nullptr);
    ASSERT_EQ(Fw().AFCConnectionOpen(Fw().AMDServiceConnectionGetSocket(service_), 0, &afc_), kAFCSuccess);
  }
  void TearDown() override {
    if (afc_ != nullptr) Fw().AFCConnectionClose(afc_);
    if (service_ != nullptr) Fw().AMDServiceConnectionInvalidate(service_);
    DeviceTest::TearDown();
  }

  afc_error_t WriteFile(const std::string& path, const std::string& content) {
    AFCFileRef file = 0;
    afc_error_t result = Fw().AFCFileRefOpen(afc_, path.c_str(), kAFCFileModeWriteOnlyCreateTruncate, &file);
    if (result != kAFCSuccess) return result;
    result = Fw().AFCFileRefWrite(afc_, file, content.data(), static_cast<uint32_t>(content.size()));
    Fw().AFCFileRefClose(afc_, file);
    return result;
  }

  afc_error_t ReadFile(const std::string& path, std::string* content) {
    AFCFileRef file = 0;
    afc_error_t result = Fw().AFCFileRefOpen(afc_, path.c_str(), kAFCFileModeReadOnly, &file);
    if (result != kAFCSuccess) return result;
    content->clear();
    std::vector<char> buffer(4 << 20);
    for (;;) {
      uint32_t length = static_cast<uint32_t>(buffer.size());
      result = Fw().AFCFileRefRead(afc_, file, buffer.data(), &length);
      if (result != kAFCSuccess || length == 0) break;
      content->append(buffer.data(), length);
    }
    Fw().AFCFileRefClose(afc_, file);
    return result;
  }

  std::map<std::string, std::string> Info(AFCDictionaryRef info) {
    std::map<std::string, std::string> pairs;
    char *key = nullptr, *value = nullptr;
    while (Fw().AFCKeyValueRead(info, &key, &value) == kAFCSuccess && key != nullptr) pairs[key] = value;
    Fw().AFCKeyValueClose(info);
    return pairs;
  }

  AMDeviceRef device_ = nullptr;
  AMDServiceConnectionRef service_ = nullptr;
  AFCConnectionRef afc_ = nullptr;
};

TEST_F(AfcOnDevice, FilesDirectoriesAndTheirErrorNumbers) {
  AFCDictionaryRef device_info = nullptr;
  ASSERT_EQ(Fw().AFCDeviceInfoOpen(afc_, &device_info), kAFCSuccess) << vd_.ServerLog();
  std::map<std::string, std::string> device = Info(device_info);
  EXPECT_TRUE(device.count("FSTotalBytes") && device.count("FSFreeBytes") && device.count("Model"));

  ASSERT_EQ(Fw().AFCDirectoryCreate(afc_, "/Tandrel"), kAFCSuccess);
  const std::string content(3 * 1000 * 1000 + 5, 'z');
  ASSERT_EQ(WriteFile("/Tandrel/a.bin", content), kAFCSuccess) << vd_.ServerLog();
  AFCDictionaryRef file_info = nullptr;
  ASSERT_EQ(Fw().AFCFileInfoOpen(afc_, "/Tandrel/a.bin", &file_info), kAFCSuccess);
  std::map<std::string, std::string> stat = Info(file_info);
  EXPECT_EQ(stat["st_size"], std::to_string(content.size()));
  EXPECT_EQ(stat["st_ifmt"], "S_IFREG");
  std::string read_back;
  ASSERT_EQ(ReadFile("/Tandrel/a.bin", &read_back), kAFCSuccess);
  EXPECT_EQ(read_back, content);

  AFCFileRef file = 0;
  ASSERT_EQ(Fw().AFCFileRefOpen(afc_, "/Tandrel/a.bin", kAFCFileModeReadWrite, &file), kAFCSuccess);
  EXPECT_EQ(Fw().AFCFileRefSeek(afc_, file, 10, kAFCSeekSet), kAFCSuccess);
  uint64_t position = 0;
  EXPECT_EQ(Fw().AFCFileRefTell(afc_, file, &position), kAFCSuccess);
  EXPECT_EQ(position, 10u);
  EXPECT_EQ(Fw().AFCFileRefSetFileSize(afc_, file, 100), kAFCSuccess);
  EXPECT_EQ(Fw().AFCFileRefLock(afc_, file, 1), kAFCSuccess);
  EXPECT_EQ(Fw().AFCFileRefUnlock(afc_, file), kAFCSuccess);
  EXPECT_EQ(Fw().AFCFlushData(afc_, file), kAFCSuccess);
  EXPECT_EQ(Fw().AFCFileRefClose(afc_, file), kAFCSuccess);
  ASSERT_EQ(ReadFile("/Tandrel/a.bin", &read_back), kAFCSuccess);
  EXPECT_EQ(read_back.size(), 100u);

  EXPECT_EQ(Fw().AFCRenamePath(afc_, "/Tandrel/a.bin", "/Tandrel/b.bin"), kAFCSuccess);
  AFCDirectoryRef directory = nullptr;
  ASSERT_EQ(Fw().AFCDirectoryOpen(afc_, "/Tandrel", &directory), kAFCSuccess);
  std::vector<std::string> names;
  char* name = nullptr;
  while (Fw().AFCDirectoryRead(afc_, directory, &name) == kAFCSuccess && name != nullptr) names.emplace_back(name);
  EXPECT_NE(std::find(names.begin(), names.end(), "b.bin"), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "a.bin"), names.end());
  EXPECT_EQ(Fw().AFCDirectoryClose(afc_, directory), kAFCSuccess);

  AFCFileRef missing = 0;
  EXPECT_EQ(Fw().AFCFileRefOpen(afc_, "/Tandrel/none", kAFCFileModeReadOnly, &missing), kAFCNotFoundError);
  EXPECT_EQ(Fw().AFCFileInfoOpen(afc_, "/Tandrel/none", &file_info), kAFCNotFoundError);
  EXPECT_EQ(Fw().AFCRemovePath(afc_, "/Tandrel/none"), kAFCNotFoundError);
  EXPECT_EQ(Fw().AFCDirectoryCreate(afc_, "/Tandrel/b.bin"), kAFCFileExistsError);
  EXPECT_NE(Fw().AFCRemovePath(afc_, "/Tandrel"), kAFCSuccess);  // not empty
  EXPECT_EQ(Fw().AFCRemovePath(afc_, "/Tandrel/b.bin"), kAFCSuccess);
  EXPECT_EQ(Fw().AFCRemovePath(afc_, "/Tandrel"), kAFCSuccess);
}

TEST_F(AfcOnDevice, ThreadsShareOneConnection) {
  ASSERT_EQ(Fw().AFCDirectoryCreate(afc_, "/Shared"), kAFCSuccess);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = "/Shared/" + std::to_string(t);
      const std::string content(200000 + t * 1000, static_cast<char>('a' + t));
      for (int round = 0; round < 5; ++round) {
        std::string read_back;
        if (WriteFile(path, content) != kAFCSuccess || ReadFile(path, &read_back) != kAFCSuccess || read_back != content) {
          ++failures;
        }
        AFCDictionaryRef info = nullptr;
        if (Fw().AFCFileInfoOpen(afc_, path.c_str(), &info) != kAFCSuccess) {
          ++failures;
        } else if (Info(info)["st_size"] != std::to_string(content.size())) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(AfcOnDevice, InvalidatedServiceEndsItsAfcConnection) {
  ASSERT_EQ(Fw().AMDServiceConnectionInvalidate(service_), kAMDSuccess);
  service_ = nullptr;
  EXPECT_NE(Fw().AFCDirectoryCreate(afc_, "/After"), kAFCSuccess);
}

}  // namespace
}  // namespace devicefw_test
