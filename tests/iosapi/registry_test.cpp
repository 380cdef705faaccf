// The registry's reading rules, which decide whether the device framework is found.
#include <gtest/gtest.h>

#include "platform/kst_registry.h"

namespace {

const char* kKey = "SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";

kst::KstRegistry Load(const std::string& values) {
  kst::KstRegistry registry;
  EXPECT_TRUE(registry.LoadText(std::string(R"({"SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared": [)") +
                                values + "]}"));
  return registry;
}

TEST(RegistryTest, StringsAreKeptAsTerminatedUtf16AndReadBack) {
  auto registry = Load(R"({"name":"A","type":"REG_SZ","data":"/opt/lib/Mob\u00efle.so"},
                          {"name":"B","type":"REG_EXPAND_SZ","data":"%ROOT%/x"})");
  std::string text;
  ASSERT_TRUE(kst::ReadRegistryString(registry, kKey, "A", 520, &text));
  EXPECT_EQ(text, "/opt/lib/Mob\xC3\xAFle.so");
  ASSERT_TRUE(kst::ReadRegistryString(registry, kKey, "B", 520, &text));
  EXPECT_EQ(text, "%ROOT%/x");  // used without expansion
  EXPECT_EQ(kst::RegistryStringBytes("ab"), (std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0}));
}

TEST(RegistryTest, WrongTypeOddLengthMissingTerminatorAndOversizeAreRejected) {
  auto registry = Load(R"({"name":"Dword","type":"REG_DWORD","data":7},
                          {"name":"Odd","type":"REG_SZ","bytes":"2f0061000000ff"},
                          {"name":"Open","type":"REG_SZ","bytes":"2f006100"},
                          {"name":"Long","type":"REG_SZ","data":")" + std::string(300, 'x') + R"("})");
  std::string text;
  EXPECT_FALSE(kst::ReadRegistryString(registry, kKey, "Dword", 520, &text));
  EXPECT_FALSE(kst::ReadRegistryString(registry, kKey, "Odd", 520, &text));
  EXPECT_FALSE(kst::ReadRegistryString(registry, kKey, "Open", 520, &text));
  EXPECT_FALSE(kst::ReadRegistryString(registry, kKey, "Long", 512, &text));
  EXPECT_FALSE(kst::ReadRegistryString(registry, kKey, "Missing", 520, &text));
  EXPECT_FALSE(kst::ReadRegistryString(registry, "No\\Such\\Key", "Dword", 520, &text));
}

TEST(RegistryTest, ValuesEnumerateInFileOrder) {
  auto registry = Load(R"({"name":"Zeta","type":"REG_SZ","data":"1"},{"name":"Alpha","type":"REG_SZ","data":"2"})");
  std::string name;
  ASSERT_EQ(registry.EnumValueName(kKey, 0, 260, &name), kst::kRegSuccess);
  EXPECT_EQ(name, "Zeta");
  ASSERT_EQ(registry.EnumValueName(kKey, 1, 260, &name), kst::kRegSuccess);
  EXPECT_EQ(name, "Alpha");
  EXPECT_EQ(registry.EnumValueName(kKey, 2, 260, &name), kst::kRegNoMoreItems);
  EXPECT_EQ(registry.EnumValueName(kKey, 0, 4, &name), kst::kRegMoreData);
}

TEST(RegistryTest, BrokenFilesLoadNothing) {
  kst::KstRegistry registry;
  EXPECT_FALSE(registry.LoadText("not json"));
  EXPECT_FALSE(registry.LoadFile("/nonexistent/registry.json"));
  EXPECT_TRUE(registry.LoadText(R"({"K": [{"name": 5}, "x", {"name":"ok","type":"REG_SZ","bytes":"zz"}]})"));
  std::string name;
  EXPECT_EQ(registry.EnumValueName("K", 0, 260, &name), kst::kRegNoMoreItems);
}

}  // namespace
