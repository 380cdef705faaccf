// The plug-in description, version order, loading from a plug-in folder and the publish rules.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "basic/plugin_load_file.h"
#include "basic/plugin_util.h"
#include "tandrel_harness.h"

namespace {

namespace fs = std::filesystem;

TEST(PluginLoadFileTest, ReadsEveryMemberAndRefusesWhatCannotLoad) {
  auto load = ParsePluginLoad(R"({"path":"libp.so","x64":"x64","win32":"x86","type":3,"version":"1.2",
      "id":"p","command-recv":["A","B",7],"command-send":["C"],"require":["r"],"optional":["o"],
      "width":640,"height":"480","command-create":"make"})");
  ASSERT_TRUE(load);
  EXPECT_EQ(load->path, "libp.so");
  EXPECT_EQ(load->x64, "x64");
  EXPECT_EQ(load->type, 3);
  EXPECT_EQ(load->command_recv, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(load->command_send, std::vector<std::string>{"C"});
  EXPECT_EQ(load->width, 640);
  EXPECT_EQ(load->height, 0) << "a mistyped member keeps its zero";
  EXPECT_EQ(load->command_create, "make");

  EXPECT_FALSE(ParsePluginLoad("[1,2]"));
  EXPECT_FALSE(ParsePluginLoad(R"({"x64":"x64"})"));
  EXPECT_FALSE(ParsePluginLoad(R"({"path":"../../libevil.so"})"));
  EXPECT_FALSE(ParsePluginLoad(R"({"path":"libp.so","x64":"x64/../../.."})"));
  EXPECT_FALSE(ParsePluginLoad(R"({"path":"/usr/lib/libevil.so"})"));
  EXPECT_FALSE(ParsePluginLoad(std::string(kKSTMaxPluginLoadSize + 1, ' ')));
}

TEST(PluginVersionOrderTest, HigherOrEqualVersionsGoToTheFront) {
  EXPECT_EQ(KSTOrderPluginVersions({"1.0.0", "2.0.0", "1.5"}), (std::vector<std::string>{"2.0.0", "1.0.0", "1.5"}));
  EXPECT_EQ(KSTOrderPluginVersions({"1.10", "1.9"}), (std::vector<std::string>{"1.10", "1.9"}));
  EXPECT_EQ(KSTOrderPluginVersions({"1.0", "1.0.0"}), (std::vector<std::string>{"1.0.0", "1.0"}));
}

// A subscriber in this process that counts what reaches it.
struct Listener {
  static std::vector<uintptr_t> heard;
  static int Receive(KSTObserveData* event) {
    heard.push_back(event->target ? event->target : 1000 + event->sender);
    return 7;
  }
};
std::vector<uintptr_t> Listener::heard;

KSTObserveData Event(const char* name, uintptr_t sender, uintptr_t target) {
  KSTObserveData event;
  std::memset(&event, 0, sizeof(event));
  event.event_name = name;
  event.sender = sender;
  event.target = target;
  return event;
}

TEST(PluginBusTest, BroadcastSkipsItsSenderAndATargetReachesOnlyItself) {
  auto& bus = KSTPluginBus::Get();
  for (uintptr_t identity : {11u, 12u, 13u}) {
    bus.Subscribe("BUS_TEST", KSTHandlerRecord{&KSTPluginBus::PublishFunction, &Listener::Receive, identity, nullptr});
  }
  Listener::heard.clear();
  KSTObserveData broadcast = Event("BUS_TEST", 12, 0);
  EXPECT_EQ(bus.Publish(&broadcast), 7);
  EXPECT_EQ(Listener::heard.size(), 2u) << "everyone but the sender";

  Listener::heard.clear();
  KSTObserveData targeted = Event("BUS_TEST", 11, 13);
  EXPECT_EQ(bus.Publish(&targeted), 7);
  EXPECT_EQ(Listener::heard, std::vector<uintptr_t>{13});

  Listener::heard.clear();
  KSTObserveData anonymous = Event("BUS_TEST", 0, 0);
  EXPECT_EQ(bus.Publish(&anonymous), 0);
  KSTObserveData nobody = Event("NO_SUBSCRIBERS", 11, 0);
  EXPECT_EQ(bus.Publish(&nobody), 0);
  EXPECT_TRUE(Listener::heard.empty());
}

TEST(PluginBusTest, AnEventHasReceiversOnlyWhenSomeoneButTheSenderListens) {
  auto& bus = KSTPluginBus::Get();
  bus.Subscribe("ONLY_SELF", KSTHandlerRecord{&KSTPluginBus::PublishFunction, &Listener::Receive, 21, nullptr});
  EXPECT_FALSE(bus.HasReceivers("ONLY_SELF", 21));
  EXPECT_TRUE(bus.HasReceivers("ONLY_SELF", 22));
  EXPECT_FALSE(bus.HasReceivers("NO_SUBSCRIBERS_AT_ALL", 22));
}

// A plug-in folder with version sub-folders made from the built sample plug-in.
class PluginFolderTest : public ::testing::Test {
 protected:
  std::string MakeVersion(const std::string& plugin, const std::string& version, bool with_library) {
    std::string folder = temp_.Path() + "/" + plugin + "/" + version;
    fs::create_directories(folder + "/x64");
    fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/plugin.load", folder + "/plugin.load");
    if (with_library) {
      fs::copy_file(std::string(SAMPLE_PLUGIN_DIR) + "/x64/libsample_plugin.so", folder + "/x64/libsample_plugin.so");
    }
    return temp_.Path() + "/" + plugin;
  }
  harness::TempFolder temp_;
};

TEST_F(PluginFolderTest, HigherVersionWithoutItsLibraryFallsBackAndNothingLoadsTwice) {
  MakeVersion("FallBack", "2.0.0", false);
  MakeVersion("FallBack", "1.0.0", true);
  std::string folder = MakeVersion("FallBack", "0.9", true);
  auto record = KSTPluginBus::Get().LoadPlugin(folder + "/");
  ASSERT_TRUE(record);
  EXPECT_NE(record->library_path.find("/FallBack/1.0.0/x64/libsample_plugin.so"), std::string::npos);
  EXPECT_EQ(record->id, "com.tandrel.sample");
  EXPECT_EQ(record->type, 1);
  EXPECT_EQ(record->command_recv.front(), "SAMPLE_ECHO");
  EXPECT_FALSE(KSTPluginBus::Get().LoadPlugin(folder)) << "the same name loads once";
}

TEST_F(PluginFolderTest, FolderWithoutALoadableVersionGivesNothing) {
  std::string folder = MakeVersion("NoLibrary", "1.0.0", false);
  fs::create_directories(folder + "/2.0.0");
  std::ofstream(folder + "/2.0.0/plugin.load") << "{not json";
  EXPECT_FALSE(KSTPluginBus::Get().LoadPlugin(folder));
  EXPECT_FALSE(KSTPluginBus::Get().LoadPlugin(temp_.Path() + "/Missing"));
}

}  // namespace
