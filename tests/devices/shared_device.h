// One simulated demo iPhone and one in-process device monitor for a whole test process.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "iOSAPI/kor_afc.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "tandrel_harness.h"

#include "utility/ios/kor_device_monitor.h"
#include "vdevice_fixture.h"

struct SharedDevice {
  vdevice_test::VdeviceFixture vd;
  std::string profile;
  std::shared_ptr<KorDevice> device;  // null when the device never became ready
};

// Started on first use; its server is stopped when the process ends.
SharedDevice& Shared();

// A test with the shared device's AFC service and a fresh folder on the device for its files.
class DeviceAfcTest : public ::testing::Test {
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
