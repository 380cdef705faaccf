// Loading the device framework: registry selection, all-or-nothing symbol resolution.
#include <gtest/gtest.h>

#include "iOSAPI/mobile_export_fun.h"
#include "loader_fixture.h"

namespace {

bool InitWith(CMobileExportFun* loader, kst::KstRegistry* registry, const std::string& values) {
  EXPECT_TRUE(registry->LoadText(RegistryText(values)));
  loader->UseRegistry(registry);
  return loader->Init();
}

TEST(LoaderTest, CompleteFrameworkResolvesEverySlotAndASecondInitChangesNothing) {
  CMobileExportFun loader;
  kst::KstRegistry registry;
  ASSERT_TRUE(InitWith(&loader, &registry, StringValue("MobileDeviceDLL", LibraryPath("libMobileDevice.so"))));
  const MobileExportTable& table = loader.Table();
  const void* const* slots = reinterpret_cast<const void* const*>(&table);
  for (int slot = 0; slot < kMobileExportSlotCount; ++slot) EXPECT_NE(slots[slot], nullptr) << "slot " << slot;
  EXPECT_EQ(table.AFCFileInfoOpenUnused, table.AFCFileInfoOpen);
  ASSERT_NE(table.kCFBooleanTrue, nullptr);
  EXPECT_TRUE(table.CFBooleanGetValue(*table.kCFBooleanTrue));

  kst::KstRegistry empty;
  loader.UseRegistry(&empty);
  EXPECT_TRUE(loader.Init());
  EXPECT_EQ(loader.Table().AMDeviceConnect, table.AMDeviceConnect);
}

TEST(LoaderTest, FrameworkLackingOneSymbolFailsAsAWhole) {
  CMobileExportFun loader;
  kst::KstRegistry registry;
  EXPECT_FALSE(InitWith(&loader, &registry, StringValue("MobileDeviceDLL", LibraryPath("libmd_stub_missing_one.so"))));
  EXPECT_FALSE(loader.Initialised());
  EXPECT_EQ(loader.Table().AMDeviceConnect, nullptr);
  // The same loader succeeds once the registry names a complete framework.
  EXPECT_TRUE(InitWith(&loader, &registry, StringValue("MobileDeviceDLL", LibraryPath("libmd_stub_complete.so"))));
}

TEST(LoaderTest, FirstMobileDeviceValueInEnumerationOrderIsUsed) {
  CMobileExportFun first_missing;
  kst::KstRegistry registry;
  EXPECT_FALSE(InitWith(&first_missing, &registry,
                        StringValue("iTunesMobileDeviceDLL", LibraryPath("libmd_stub_missing_one.so")) + "," +
                            StringValue("MobileDeviceDLL", LibraryPath("libmd_stub_complete.so"))));
  CMobileExportFun first_complete;
  kst::KstRegistry reordered;
  EXPECT_TRUE(InitWith(&first_complete, &reordered,
                       StringValue("MobileDeviceDLL", LibraryPath("libmd_stub_complete.so")) + "," +
                           StringValue("iTunesMobileDeviceDLL", LibraryPath("libmd_stub_missing_one.so"))));
}

TEST(LoaderTest, MissingOrUnacceptableRegistryValuesFailCleanly) {
  const std::string dword = R"({"name":"MobileDeviceDLL","type":"REG_DWORD","data":1})";
  const std::string nonexistent = StringValue("MobileDeviceDLL", "/nonexistent/libMobileDevice.so");
  for (const std::string& values : {std::string(), dword, nonexistent}) {
    CMobileExportFun loader;
    kst::KstRegistry registry;
    EXPECT_FALSE(InitWith(&loader, &registry, values)) << values;
  }
  CMobileExportFun no_key;
  kst::KstRegistry empty;
  no_key.UseRegistry(&empty);
  EXPECT_FALSE(no_key.Init());
}

TEST(LoaderTest, SearchPathIsExtendedWithTheFrameworkFolders) {
  CMobileExportFun loader;
  kst::KstRegistry registry;
  InitWith(&loader, &registry, StringValue("MobileDeviceDLL", LibraryPath("libMobileDevice.so")));
  EXPECT_NE(CMobileExportFun::SearchPathVariable().find("/usr/lib/tandrel/devicefw/"), std::string::npos);
}

}  // namespace
