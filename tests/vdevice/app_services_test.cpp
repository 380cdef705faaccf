// The application services of the simulated iPhone checked with stock clients: ideviceinstaller
// lists, installs, uninstalls and archives; libimobiledevice's springboard client fetches icons;
// zero-filled writes under /iostemp take no disk space.
#include <gtest/gtest.h>
#include <libimobiledevice/sbservices.h>
#include <arpa/inet.h>
#include <sys/stat.h>

#include <sstream>

#include "device_session.h"
#include "platform/kst_fs.h"
#include "sample_apps.h"
#include "vdevice_fixture.h"

namespace vdevice_test {
namespace {

constexpr int kToolTimeoutMs = 30000;

class AppServicesTest : public ::testing::Test {
 protected:
  void Serve(const std::string& kind) {
    profile_ = vd_.MakeProfile(kind);
    ASSERT_TRUE(vd_.Start({profile_})) << vd_.ServerLog();
    udid_ = VdeviceFixture::ProfileUdid(profile_);
  }

  ToolResult Installer(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-u", udid_};
    all.insert(all.end(), args.begin(), args.end());
    ToolResult result = vd_.RunTool("ideviceinstaller", all, kToolTimeoutMs);
    EXPECT_FALSE(result.timed_out) << "ideviceinstaller hung\n" << vd_.ServerLog();
    return result;
  }

  // The bundle identifiers of `ideviceinstaller -l` (its lines after the header).
  std::vector<std::string> ListedIds(const std::string& type_option) {
    ToolResult listed = Installer({"-l", "-o", type_option});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    std::vector<std::string> ids;
    std::istringstream lines(listed.out);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) ids.push_back(line.substr(0, line.find(',')));
    return ids;
  }

  VdeviceFixture vd_;
  std::string profile_, udid_;
};

TEST_F(AppServicesTest, InstallerListsUserAndSystemApplicationsOfTheProfile) {
  Serve("demo");
  std::vector<std::string> user = ListedIds("list_user");
  ASSERT_EQ(user.size(), static_cast<size_t>(vdevice_fixtures::kSampleUserApps));
  EXPECT_EQ(user.front(), "com.example.notebook");
  std::vector<std::string> system = ListedIds("list_system");
  EXPECT_EQ(system, (std::vector<std::string>{"com.apple.mobilesafari", "com.apple.mobilemail", "com.apple.Preferences"}));
  EXPECT_EQ(ListedIds("list_all").size(), user.size() + system.size());
}

TEST_F(AppServicesTest, InstallerInstallsAPackageAndUninstallsIt) {
  Serve("demo");
  std::string ipa = vd_.folder() + "/Sample.ipa";
  std::string error;
  vdevice_fixtures::IpaRequest package;
  package.bundle_id = "org.sample.installed";
  ASSERT_TRUE(vdevice_fixtures::WriteSampleIpa(ipa, package, &error)) << error;
  ToolResult installed = Installer({"-i", ipa});
  EXPECT_EQ(installed.exit_code, 0) << installed.out << installed.err << vd_.ServerLog();
  EXPECT_NE(installed.out.find("InstallingApplication (60%)"), std::string::npos) << installed.out;
  EXPECT_NE(installed.out.find("Complete"), std::string::npos);
  std::vector<std::string> after = ListedIds("list_user");
  ASSERT_EQ(after.size(), static_cast<size_t>(vdevice_fixtures::kSampleUserApps) + 1);
  EXPECT_EQ(after.back(), "org.sample.installed");

  ToolResult removed = Installer({"-U", "org.sample.installed"});
  EXPECT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(ListedIds("list_user").size(), static_cast<size_t>(vdevice_fixtures::kSampleUserApps));
  ToolResult unknown = Installer({"-U", "org.sample.installed"});
  EXPECT_NE(unknown.exit_code, 0);
  EXPECT_NE((unknown.out + unknown.err).find("Could not find application"), std::string::npos);
}

TEST_F(AppServicesTest, APackageThatIsNotAnArchiveIsRefusedWithAnError) {
  Serve("demo");
  DeviceSession session;
  vd_.ExportSocketAddress();
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  AfcSession afc;
  ASSERT_EQ(afc.Open(session), 0);
  ASSERT_EQ(afc_make_directory(afc.get(), "/general_storage"), AFC_E_SUCCESS);
  ASSERT_EQ(afc.WriteFile("/general_storage/bad.ipa", "this is not a zip"), AFC_E_SUCCESS);
  ServiceConnection installer;
  ASSERT_TRUE(installer.Open(session, "com.apple.mobile.installation_proxy"));
  std::string request =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Command</key><string>Upgrade</string>"
      "<key>PackagePath</key><string>general_storage/bad.ipa</string></dict></plist>";
  uint32_t length = htonl(static_cast<uint32_t>(request.size()));
  ASSERT_TRUE(installer.Send(std::string(reinterpret_cast<char*>(&length), 4) + request));
  std::string prefix, body;
  ASSERT_TRUE(installer.Receive(4, &prefix));
  ASSERT_TRUE(installer.Receive(ntohl(*reinterpret_cast<const uint32_t*>(prefix.data())), &body));
  EXPECT_NE(body.find("PackageExtractionFailed"), std::string::npos) << body;
  std::string more;
  EXPECT_FALSE(installer.Receive(1, &more, 2000)) << "the device keeps the connection open after an error";
}

TEST_F(AppServicesTest, CurrentSystemsRefuseToArchiveAndOldOnesArchive) {
  Serve("demo");
  ToolResult refused = Installer({"-a", "com.example.chess"});
  EXPECT_NE((refused.out + refused.err).find("UnknownCommand"), std::string::npos) << refused.out << refused.err;
  ASSERT_EQ(vd_.Stop(), 0);

  Serve("iphone-ios4");
  ToolResult archived = Installer({"-a", "com.example.chess", "-o", "uninstall"});
  EXPECT_EQ(archived.exit_code, 0) << archived.out << archived.err << vd_.ServerLog();
  ToolResult archives = Installer({"-L"});
  EXPECT_NE(archives.out.find("com.example.chess"), std::string::npos) << archives.out;
  std::vector<std::string> user = ListedIds("list_user");
  EXPECT_EQ(std::count(user.begin(), user.end(), "com.example.chess"), 0);
}

TEST_F(AppServicesTest, SpringboardAnswersIconsAsPngAndNothingForUnknownIdentifiers) {
  Serve("demo");
  vd_.ExportSocketAddress();
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  sbservices_client_t springboard = nullptr;
  ASSERT_EQ(sbservices_client_start_service(session.device(), &springboard, "test"), SBSERVICES_E_SUCCESS);
  for (const char* id : {"com.example.notebook", "com.example.chess"}) {
    char* png = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(sbservices_get_icon_pngdata(springboard, id, &png, &size), SBSERVICES_E_SUCCESS) << id;
    ASSERT_GT(size, 8u) << id;
    EXPECT_EQ(std::string(png, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << id;
    free(png);
  }
  char* png = nullptr;
  uint64_t size = 0;
  sbservices_get_icon_pngdata(springboard, "org.not.installed", &png, &size);
  EXPECT_EQ(png, nullptr);
  EXPECT_EQ(size, 0u);
  sbservices_client_free(springboard);
}

TEST_F(AppServicesTest, ZeroFilledWritesUnderIostempAreStoredSparse) {
  Serve("demo");
  vd_.ExportSocketAddress();
  DeviceSession session;
  ASSERT_EQ(session.Open(udid_), LOCKDOWN_E_SUCCESS);
  AfcSession afc;
  ASSERT_EQ(afc.Open(session), 0);
  ASSERT_EQ(afc_make_directory(afc.get(), "/iostemp"), AFC_E_SUCCESS);
  const std::string zeros(8 << 20, '\0');
  ASSERT_EQ(afc.WriteFile("/iostemp/fill-1", zeros + zeros), AFC_E_SUCCESS);
  ASSERT_EQ(afc.WriteFile("/Downloads/not-a-fill", "abc" + zeros.substr(3)), AFC_E_SUCCESS);
  struct stat fill {}, plain {};
  ASSERT_EQ(stat((profile_ + "/afc/iostemp/fill-1").c_str(), &fill), 0);
  ASSERT_EQ(stat((profile_ + "/afc/Downloads/not-a-fill").c_str(), &plain), 0);
  EXPECT_EQ(fill.st_size, 16 << 20);
  EXPECT_LT(fill.st_blocks * 512, 1 << 20);
  EXPECT_EQ(plain.st_size, 8 << 20);
  std::string back;
  ASSERT_EQ(afc.ReadFile("/iostemp/fill-1", &back), AFC_E_SUCCESS);
  EXPECT_EQ(back, zeros + zeros);
}

}  // namespace
}  // namespace vdevice_test
