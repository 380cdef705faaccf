// Attach and detach seen by idevice_event_subscribe, and the armed faults as a host sees them:
// dropped connections, stalled replies, injected errors and refused services.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "device_session.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

using Clock = std::chrono::steady_clock;

// Collects device events delivered on libimobiledevice's listener thread.
class EventLog {
 public:
  static void Callback(const idevice_event_t* event, void* user_data) {
    auto* log = static_cast<EventLog*>(user_data);
    std::lock_guard<std::mutex> lock(log->mutex_);
    log->events_.push_back((event->event == IDEVICE_DEVICE_ADD      ? "add "
                            : event->event == IDEVICE_DEVICE_REMOVE ? "remove "
                                                                    : "paired ") +
                           std::string(event->udid ? event->udid : ""));
    log->changed_.notify_all();
  }
  bool WaitFor(const std::string& event, int timeout_ms = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      return std::find(events_.begin(), events_.end(), event) != events_.end();
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
};

class EventsAndFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    profile_ = vd_.MakeProfile("demo");
    udid_ = VdeviceFixture::ProfileUdid(profile_);
    ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
    vd_.ExportSocketAddress();
  }

  VdeviceFixture vd_;
  std::string profile_, udid_;
};

TEST_F(EventsAndFaultsTest, SubscribersSeeAttachAndDetach) {
  EventLog log;
  ASSERT_EQ(idevice_event_subscribe(&EventLog::Callback, &log), IDEVICE_E_SUCCESS);
  EXPECT_TRUE(log.WaitFor("add " + udid_));
  std::string second = vd_.MakeProfile("jailbroken");
  std::string second_udid = VdeviceFixture::ProfileUdid(second);
  ASSERT_TRUE(vd_.Attach(second));
  EXPECT_TRUE(log.WaitFor("add " + second_udid));
  ASSERT_TRUE(vd_.Detach(udid_));
  EXPECT_TRUE(log.WaitFor("remove " + udid_));
  log.Clear();
  ASSERT_TRUE(vd_.Attach(profile_));
  EXPECT_TRUE(log.WaitFor("add " + udid_));
  idevice_event_unsubscribe();
}

TEST_F(EventsAndFaultsTest, DetachCutsOpenConnections) {
  DeviceSession session;
  AfcSession afc;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_EQ(afc.Open(session), 0);
  ASSERT_TRUE(vd_.Detach(udid_));
  char** list = nullptr;
  EXPECT_NE(afc_read_directory(afc.get(), "/", &list), AFC_E_SUCCESS);
  DeviceSession gone;
  EXPECT_NE(gone.Open(udid_), LOCKDOWN_E_SUCCESS);
}

TEST_F(EventsAndFaultsTest, DropClosesTheNextConnectionAfterTheGivenBytes) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  // 48 bytes is exactly the reply to the file open, so the connection ends before the read's
  // reply. (libimobiledevice 1.3.0's afc_file_read over-reads its buffer when a data reply is
  // cut in the middle, so this test cuts between packets.)
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.afc", {"drop", "48"}));
  AfcSession afc;
  ASSERT_EQ(afc.Open(session), 0);
  std::string photo;
  EXPECT_NE(afc.ReadFile("/DCIM/100APPLE/IMG_0001.JPG", &photo), AFC_E_SUCCESS);
  EXPECT_NE(vd_.ServerLog().find("com.apple.afc connection dropped after 48 bytes"), std::string::npos);
  AfcSession healthy;
  ASSERT_EQ(healthy.Open(session), 0);
  EXPECT_EQ(healthy.ReadFile("/DCIM/100APPLE/IMG_0001.JPG", &photo), AFC_E_SUCCESS);
}

TEST_F(EventsAndFaultsTest, StallHoldsTheNextReplyBack) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.mobile.lockdown", {"stall", "400"}));
  plist_t value = nullptr;
  Clock::time_point start = Clock::now();
  ASSERT_EQ(lockdownd_get_value(session.lockdown(), nullptr, "ProductVersion", &value), LOCKDOWN_E_SUCCESS);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(400));
  plist_free(value);
  value = nullptr;
  start = Clock::now();
  ASSERT_EQ(lockdownd_get_value(session.lockdown(), nullptr, "ProductVersion", &value), LOCKDOWN_E_SUCCESS);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(400));
  plist_free(value);
}

TEST_F(EventsAndFaultsTest, PaceSpreadsRepliesOverTheTimeTheRateAllows) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  AfcSession afc;
  ASSERT_EQ(afc.Open(session), 0);
  std::string unpaced;
  ASSERT_EQ(afc.ReadFile("/DCIM/100APPLE/IMG_0001.JPG", &unpaced), AFC_E_SUCCESS);
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.afc", {"pace", "1", "always"}));
  std::string paced;
  Clock::time_point start = Clock::now();
  ASSERT_EQ(afc.ReadFile("/DCIM/100APPLE/IMG_0001.JPG", &paced), AFC_E_SUCCESS);
  // At one megabyte per second the photo takes at least its size in microseconds.
  EXPECT_GE(Clock::now() - start, std::chrono::microseconds(unpaced.size() * 9 / 10));
  EXPECT_TRUE(paced == unpaced);
}

TEST_F(EventsAndFaultsTest, ErrorAnswersTheNextRequestsWithTheGivenError) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.mobile.lockdown", {"error", "GetProhibited"}));
  plist_t value = nullptr;
  EXPECT_EQ(lockdownd_get_value(session.lockdown(), nullptr, "DeviceName", &value), LOCKDOWN_E_GET_PROHIBITED);
  EXPECT_EQ(lockdownd_get_value(session.lockdown(), nullptr, "DeviceName", &value), LOCKDOWN_E_SUCCESS);
  plist_free(value);

  AfcSession afc;
  ASSERT_EQ(afc.Open(session), 0);
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.afc", {"error", "20", "2"}));
  char** list = nullptr;
  EXPECT_EQ(afc_read_directory(afc.get(), "/", &list), AFC_E_IO_ERROR);
  EXPECT_EQ(afc_read_directory(afc.get(), "/", &list), AFC_E_IO_ERROR);
  EXPECT_EQ(afc_read_directory(afc.get(), "/", &list), AFC_E_SUCCESS);
  afc_dictionary_free(list);
}

TEST_F(EventsAndFaultsTest, RefuseKeepsAServiceFromStartingUntilCleared) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_TRUE(vd_.Fault(udid_, "com.apple.afc", {"refuse", "always"}));
  for (int attempt = 0; attempt < 3; ++attempt) {
    AfcSession afc;
    EXPECT_EQ(afc.Open(session), LOCKDOWN_E_SERVICE_PROHIBITED);
  }
  ASSERT_EQ(vd_.Ctl({"fault", udid_, "com.apple.afc", "clear"}), 0);
  AfcSession afc;
  EXPECT_EQ(afc.Open(session), 0);
}

TEST_F(EventsAndFaultsTest, LockingTheDeviceClosesServicesUntilUnlocked) {
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  ASSERT_TRUE(vd_.Lock(udid_, true));
  AfcSession locked;
  EXPECT_EQ(locked.Open(session), LOCKDOWN_E_PASSWORD_PROTECTED);
  ASSERT_TRUE(vd_.Lock(udid_, false));
  AfcSession unlocked;
  EXPECT_EQ(unlocked.Open(session), 0);
}

}  // namespace
}  // namespace vdevice_test
