// Generated profiles: every kind loads, the demo carries realistic typed values, the photos are
// real JPEGs, and the kinds differ where they should.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <set>

#include "device_profile.h"
#include "platform/kst_fs.h"
#include "platform/kst_process.h"
#include "profile_generator.h"
#include "sample_media.h"

namespace vdevice {
namespace {

class ProfileGeneratorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new std::string(kst::TempFolder() + "profile-generator-" + std::to_string(kst::CurrentProcessId()));
    for (const std::string& kind : vdevice_fixtures::ProfileKinds()) {
      std::string error;
      vdevice_fixtures::ProfileRequest request;
      request.kind = kind;
      request.folder = *folder_ + "/" + kind;
      ASSERT_EQ(vdevice_fixtures::WriteProfile(request, &error), 0) << error;
    }
  }
  static void TearDownTestSuite() {
    kst::RemoveTree(*folder_);
    delete folder_;
  }

  static DeviceProfile Load(const std::string& kind) {
    DeviceProfile profile;
    std::string error;
    EXPECT_EQ(LoadProfile(*folder_ + "/" + kind, &profile, &error), 0) << error;
    return profile;
  }

  static std::string* folder_;
};

std::string* ProfileGeneratorTest::folder_ = nullptr;

TEST_F(ProfileGeneratorTest, EveryKindLoadsWithItsOwnUdid) {
  std::set<std::string> udids;
  for (const char* kind : {"demo", "iphone-ios4", "ipad-ios4", "untrusted", "locked", "network", "jailbroken"}) {
    DeviceProfile profile = Load(kind);
    udids.insert(profile.udid);
    EXPECT_EQ(DictString(profile.domains[kDefaultDomain].get(), "UniqueDeviceID"), profile.udid) << kind;
  }
  EXPECT_EQ(udids.size(), 7u);
}

TEST_F(ProfileGeneratorTest, DemoIsAnIphoneOnIos16WithTypedValues) {
  DeviceProfile demo = Load("demo");
  plist_t values = demo.domains[kDefaultDomain].get();
  EXPECT_EQ(DictString(values, "DeviceClass"), "iPhone");
  EXPECT_EQ(DictString(values, "ProductVersion").value_or("").rfind("16.", 0), 0u);
  EXPECT_TRUE(DictUnsigned(values, "UniqueChipID"));
  EXPECT_TRUE(DictBool(values, "ActivationStateAcknowledged"));
  EXPECT_TRUE(DictBool(values, "ProductionSOC"));
  plist_t families = DictItem(values, "SupportedDeviceFamilies", PLIST_ARRAY);
  ASSERT_NE(families, nullptr);
  EXPECT_EQ(plist_get_node_type(plist_array_get_item(families, 0)), PLIST_UINT);
  std::string key = DictData(values, "DevicePublicKey").value_or("");
  EXPECT_EQ(key.rfind("-----BEGIN RSA PUBLIC KEY-----", 0), 0u);
  for (const char* name : {"DeviceName", "BuildVersion", "SerialNumber", "ModelNumber", "HardwareModel",
                           "CPUArchitecture", "WiFiAddress", "BluetoothAddress", "BasebandVersion", "PhoneNumber",
                           "ProtocolVersion", "RegionInfo", "SIMStatus", "TimeZone"}) {
    EXPECT_TRUE(DictString(values, name)) << name;
  }
  EXPECT_TRUE(DictUnsigned(demo.domains["com.apple.mobile.battery"].get(), "BatteryCurrentCapacity"));
  EXPECT_TRUE(DictBool(demo.domains["com.apple.mobile.battery"].get(), "BatteryIsCharging"));
  EXPECT_TRUE(DictString(demo.domains["com.apple.international"].get(), "Keyboard"));
  for (const char* name : {"TotalDiskCapacity", "TotalSystemAvailable", "TotalSystemCapacity", "TotalDataCapacity",
                           "TotalDataAvailable", "AmountDataAvailable"}) {
    EXPECT_TRUE(DictUnsigned(demo.domains["com.apple.disk_usage"].get(), name)) << name;
  }
  plist_t contacts = DictItem(demo.domains["com.apple.mobile.data_sync"].get(), "Contacts", PLIST_DICT);
  EXPECT_TRUE(DictItem(contacts, "Sources", PLIST_ARRAY));
  EXPECT_TRUE(demo.domains.count("com.apple.mobile.backup"));
}

TEST_F(ProfileGeneratorTest, OldDevicesAndVariantsDifferWhereTheyShould) {
  DeviceProfile iphone4 = Load("iphone-ios4");
  DeviceProfile ipad = Load("ipad-ios4");
  EXPECT_EQ(DictString(iphone4.domains[kDefaultDomain].get(), "ProductVersion"), "4.1");
  EXPECT_EQ(iphone4.udid.size(), 40u);
  EXPECT_EQ(DictString(ipad.domains[kDefaultDomain].get(), "DeviceClass"), "iPad");
  EXPECT_EQ(DictString(ipad.domains[kDefaultDomain].get(), "ProductVersion"), "4.1");
  EXPECT_EQ(Load("untrusted").trust, TrustState::kOff);
  EXPECT_TRUE(Load("locked").locked);
  EXPECT_EQ(Load("network").connection, ConnectionKind::kNetwork);
  EXPECT_TRUE(kst::IsDirectory(*folder_ + "/jailbroken/afc2/var/root/Media/Cydia/AutoInstall"));
  EXPECT_TRUE(Load("demo").AfcRoot("afc2").empty());
}

// Decodes with libjpeg; returns false when the bytes are not a complete JPEG.
bool DecodeJpeg(const std::string& bytes, int* width, int* height) {
  jpeg_decompress_struct decompressor;
  jpeg_error_mgr errors;
  decompressor.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&decompressor);
  jpeg_mem_src(&decompressor, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (jpeg_read_header(&decompressor, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&decompressor);
    return false;
  }
  jpeg_start_decompress(&decompressor);
  std::vector<unsigned char> row(decompressor.output_width * decompressor.output_components);
  while (decompressor.output_scanline < decompressor.output_height) {
    JSAMPROW pointer = row.data();
    jpeg_read_scanlines(&decompressor, &pointer, 1);
  }
  *width = static_cast<int>(decompressor.output_width);
  *height = static_cast<int>(decompressor.output_height);
  bool clean = errors.num_warnings == 0;
  jpeg_finish_decompress(&decompressor);
  jpeg_destroy_decompress(&decompressor);
  return clean;
}

TEST_F(ProfileGeneratorTest, CameraRollHoldsDecodableJpegs) {
  std::string roll = *folder_ + "/demo/afc/DCIM/100APPLE/";
  for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}) {
    std::string bytes;
    ASSERT_TRUE(kst::ReadWholeFile(roll + name, &bytes)) << name;
    int width = 0, height = 0;
    EXPECT_TRUE(DecodeJpeg(bytes, &width, &height)) << name;
    EXPECT_EQ(width, 96);
    EXPECT_EQ(height, 64);
  }
  for (const char* folder : {"iTunes_Control", "Books", "Recordings"}) {
    EXPECT_TRUE(kst::IsDirectory(*folder_ + "/demo/afc/" + folder)) << folder;
  }
}

TEST_F(ProfileGeneratorTest, UnknownKindsAndBadProfilesAreReported) {
  std::string error;
  EXPECT_NE(vdevice_fixtures::WriteProfile({"toaster", *folder_ + "/toaster", "", "", "", 0, 0, 0}, &error), 0);
  EXPECT_NE(error.find("toaster"), std::string::npos);
  std::string broken = *folder_ + "/broken";
  kst::CreateDirectories(broken);
  for (const char* json : {"{", "[]", "{\"udid\":\"x\"}", "{\"udid\":\"x\",\"lockdown\":{},\"trust\":\"maybe\"}",
                           "{\"udid\":\"x\",\"lockdown\":{\"default\":{\"k\":null}}}"}) {
    kst::WriteWholeFile(broken + "/device.json", json);
    DeviceProfile profile;
    EXPECT_NE(LoadProfile(broken, &profile, &error), 0) << json;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vdevice
