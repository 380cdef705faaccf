// The media listing's durations, device paths and JSON objects.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "utility/module/media/kor_media_device_paths.h"
#include "utility/module/media/kor_media_records.h"

namespace {

TEST(MediaDurationTest, RoundsToTheNearestSecondAndShowsHoursOnlyWhenThereAreAny) {
  EXPECT_EQ(KorMediaDuration(0), "00:00");
  EXPECT_EQ(KorMediaDuration(499), "00:00");
  EXPECT_EQ(KorMediaDuration(500), "00:01");
  EXPECT_EQ(KorMediaDuration(59499.9), "00:59");
  EXPECT_EQ(KorMediaDuration(59500), "01:00");
  EXPECT_EQ(KorMediaDuration(3599499), "59:59");
  EXPECT_EQ(KorMediaDuration(3599500), "01:00:00");
  EXPECT_EQ(KorMediaDuration(3725400), "01:02:05");
  EXPECT_EQ(KorMediaDuration(360000000), "100:00:00");
  // Values a hostile database may hold do not overflow.
  EXPECT_EQ(KorMediaDuration(-5000), "00:00");
  EXPECT_EQ(KorMediaDuration(1e300), "00:00");
}

TEST(MediaDevicePathTest, IpodNotationAndRelativePathsBecomeDevicePaths) {
  EXPECT_EQ(KorMediaDevicePath("iTunes_Control/Music/F00/ABCD.mp3"), "/iTunes_Control/Music/F00/ABCD.mp3");
  EXPECT_EQ(KorMediaDevicePath("/iTunes_Control/Music/F00/ABCD.mp3"), "/iTunes_Control/Music/F00/ABCD.mp3");
  EXPECT_EQ(KorMediaDevicePath(":iTunes_Control:Music:F07:QMZR.m4a"), "/iTunes_Control/Music/F07/QMZR.m4a");
  EXPECT_EQ(KorMediaDevicePath(":iTunes_Control:Music:F07/QMZR.m4a"), "/iTunes_Control/Music/F07/QMZR.m4a");
  EXPECT_EQ(KorMediaDevicePath(""), "");
}

TEST(MediaJsonTest, ObjectsCarryTheirMembersInOrderAndEscapeTexts) {
  KorMediaItem item;
  item.item_pid = -4354685564936845354;
  item.title = "Say \"hi\"\n";
  item.total_time_ms = 61500;
  item.date_modified = 0;
  std::string text;
  KorAppendMediaItemJson(item, &text);
  rapidjson::Document json;
  json.Parse(text.c_str());
  ASSERT_FALSE(json.HasParseError()) << text;
  EXPECT_EQ(json["item_pid"].GetInt64(), item.item_pid);
  EXPECT_STREQ(json["title"].GetString(), item.title.c_str());
  EXPECT_STREQ(json["total_time_ms"].GetString(), "01:02");
  EXPECT_EQ(json["total_time_ms_int"].GetInt64(), 61500);
  EXPECT_STREQ(json["date_modified"].GetString(), "");

  KorMediaPlaylist playlist;
  playlist.pid = 7;
  playlist.item_pids = {3, -2, 3};
  EXPECT_EQ(KorPlaylistItemsJson(playlist), R"({"Playlist":7,"item_pids":[3,-2,3]})");
  text.clear();
  playlist.name = "Road Trip";
  KorAppendPlaylistJson(playlist, &text);
  EXPECT_EQ(text, R"({"container_pid":7,"name":"Road Trip","container_media_type":0,"parent_pid":0,"smart_is_folder":0})");
}

}  // namespace
