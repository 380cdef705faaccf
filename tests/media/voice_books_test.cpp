// The readers of the book, ringtone and recordings-manifest lists on the lists the fixture
// generator writes and on hostile ones, the book-list edits of adding and removing books, and the
// rule that a recording path is collected once.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "iOSAPI/kor_xml_value.h"
#include "sample_voice_books.h"
#include "utility/module/media/kor_book_commands.h"
#include "utility/module/media/kor_book_list_edit.h"
#include "utility/module/media/kor_epub_title.h"
#include "utility/module/media/kor_media_plists.h"
#include "utility/module/media/kor_voice_book_records.h"

namespace {

using vdevice_fixtures::SampleVoiceBooksPlan;

KorValue Parsed(const std::string& xml) {
  KorValue value;
  EXPECT_TRUE(KorXmlTextToValue(xml, &value)) << xml;
  return value;
}

TEST(MediaListReaders, ReadWhatTheGeneratorWrote) {
  const auto& plan = SampleVoiceBooksPlan();
  auto books = KorReadBookList(Parsed(vdevice_fixtures::BookListXml(plan.books)));
  ASSERT_EQ(books.size(), plan.books.size());
  EXPECT_EQ(books[1].path, "Field Guide to Ferns.pdf");
  EXPECT_EQ(books[1].name, plan.books[1].name);
  EXPECT_EQ(books[1].artist, plan.books[1].artist);
  EXPECT_EQ(books[1].genre, plan.books[1].genre);

  auto tones = KorReadRingtoneList(Parsed(vdevice_fixtures::RingtoneListXml(plan.ringtones)));
  ASSERT_EQ(tones.size(), plan.ringtones.size());
  EXPECT_EQ(tones[0].file, "DQXC.m4r");
  EXPECT_EQ(tones[0].name, "Marimba Morning");
  EXPECT_DOUBLE_EQ(tones[0].total_time_ms, 28400);

  auto manifest = KorReadRecordingManifest(Parsed(vdevice_fixtures::AssetManifestXml(plan.manifest)));
  ASSERT_EQ(manifest.size(), plan.manifest.size() - 1) << "the entry outside /Recordings is left out";
  EXPECT_EQ(manifest[1].path, "/Recordings/20230521 094512.m4a") << "%20 becomes a space";
  EXPECT_EQ(manifest[1].label, "Band rehearsal");
  EXPECT_EQ(manifest[1].date, static_cast<int64_t>(plan.manifest[1].creation_time)) << "from the ISO date";
  EXPECT_EQ(manifest[2].date, static_cast<int64_t>(plan.manifest[2].creation_time)) << "from the creation time";
}

TEST(MediaListReaders, HostileListsYieldOnlyWellFormedConfinedEntries) {
  EXPECT_TRUE(KorReadBookList(Parsed("<plist><array/></plist>")).empty());
  EXPECT_TRUE(KorReadBookList(Parsed("<plist><dict><key>Books</key><string>x</string></dict></plist>")).empty());
  auto books = KorReadBookList(Parsed(
      "<plist><dict><key>Books</key><array><string>loose</string>"
      "<dict><key>Path</key><string>../../etc/passwd</string></dict>"
      "<dict><key>Path</key><string>/abs.epub</string></dict>"
      "<dict><key>Path</key><integer>3</integer></dict>"
      "<dict><key>Path</key><string>ok.epub</string><key>Name</key><integer>9</integer></dict>"
      "</array></dict></plist>"));
  ASSERT_EQ(books.size(), 1u);
  EXPECT_EQ(books[0].path, "ok.epub");
  EXPECT_EQ(books[0].name, "") << "a title of the wrong type reads as empty";

  auto tones = KorReadRingtoneList(Parsed(
      "<plist><dict><key>Ringtones</key><dict><key>../x.m4r</key><dict/><key>a/b.m4r</key><dict/>"
      "<key>T.m4r</key><string>x</string><key>U.m4r</key><dict><key>Total Time</key><real>1500.5</real></dict>"
      "</dict></dict></plist>"));
  ASSERT_EQ(tones.size(), 1u);
  EXPECT_EQ(tones[0].file, "U.m4r");

  auto manifest = KorReadRecordingManifest(Parsed(
      "<plist><array><dict><key>RCComposedAVURL</key><string>file:///Recordings/../../x.m4a</string></dict>"
      "<dict><key>RCComposedAVURL</key><string>file:///var/mobile/Media/Recordings/a.m4a</string>"
      "<key>RCSavedRecordingCreationDate</key><string>2023-13-99Tgarbage</string>"
      "<key>RCSavedRecordingCreationTime</key><real>-5</real></dict></array></plist>"));
  ASSERT_EQ(manifest.size(), 1u);
  EXPECT_EQ(manifest[0].path, "/Recordings/a.m4a");
  EXPECT_EQ(manifest[0].date, 0) << "a negative time counts as the epoch";
}

TEST(MediaListReaders, ConfinedRelativePaths) {
  for (const char* good : {"a.epub", "Purchases/b.pdf", "x y.m4a"}) EXPECT_TRUE(KorIsConfinedRelativePath(good)) << good;
  for (const char* bad : {"", "/a", "../a", "a/../b", "a/./b", "a//b", "a/", "a\\b"}) {
    EXPECT_FALSE(KorIsConfinedRelativePath(bad)) << bad;
  }
  EXPECT_FALSE(KorIsConfinedRelativePath(std::string("a\0b", 3)));
}

TEST(BookListEdit, AddedEntryKeepsTheRestAndRemovalTakesOnlyNamedPaths) {
  const auto& plan = SampleVoiceBooksPlan();
  std::string xml = vdevice_fixtures::BookListXml(plan.books);
  std::string added;
  ASSERT_TRUE(KorBookListAdd(xml, {"Walden", "QWER.epub", 0x00AB00CD00EF0012ULL, false}, &added));
  KorValue root = Parsed(added);
  auto books = KorReadBookList(root);
  ASSERT_EQ(books.size(), plan.books.size() + 1);
  EXPECT_EQ(books.back().path, "QWER.epub");
  EXPECT_EQ(books.back().name, "Walden");
  KorValue last = root.AsDictionary()->Get("Books").AsArray().back();
  EXPECT_EQ(last.AsDictionary()->Get("Persistent ID").AsString(), "00AB00CD00EF0012");
  EXPECT_FALSE(last.AsDictionary()->Get("Has Artwork").AsBool());
  EXPECT_EQ(root.AsDictionary()->Get("Books").AsArray()[0].AsDictionary()->Get("Persistent ID").AsString(),
            "5A1C9E03B7D24F61")
      << "earlier entries keep their members";

  std::string removed;
  std::set<std::string> found;
  EXPECT_EQ(KorBookListRemove(added, {"QWER.epub", plan.books[0].path, "nope.pdf"}, &removed, &found), 2);
  EXPECT_EQ(found, (std::set<std::string>{"QWER.epub", plan.books[0].path}));
  auto left = KorReadBookList(Parsed(removed));
  ASSERT_EQ(left.size(), plan.books.size() - 1);
  EXPECT_EQ(left[0].path, plan.books[1].path);
}

TEST(BookListEdit, EmptyAndHostileLists) {
  std::string added;
  ASSERT_TRUE(KorBookListAdd(KorEmptyBookListXml(), {"A", "ABCD.pdf", 1, false}, &added));
  EXPECT_EQ(KorReadBookList(Parsed(added)).size(), 1u);
  ASSERT_TRUE(KorBookListAdd("<plist><dict><key>Other</key><true/></dict></plist>", {"A", "B.pdf", 1, false}, &added));
  EXPECT_EQ(KorReadBookList(Parsed(added)).size(), 1u) << "a list without \"Books\" gets the member";
  EXPECT_FALSE(KorBookListAdd("<plist><array/></plist>", {"A", "B.pdf", 1, false}, &added));
  EXPECT_FALSE(KorBookListAdd("<plist><dict><key>Books</key><dict/></dict></plist>", {"A", "B.pdf", 1, false}, &added));
  EXPECT_FALSE(KorBookListAdd("not xml <<<", {"A", "B.pdf", 1, false}, &added));
  std::set<std::string> found;
  EXPECT_EQ(KorBookListRemove("garbage", {"x"}, &added, &found), -1);
  EXPECT_EQ(KorBookListRemove("<plist><dict/></plist>", {"x"}, &added, &found), 0);
}

TEST(EpubTitle, ContainerNamesThePackageWhoseMetadataHoldsTheTitle) {
  EXPECT_EQ(KorEpubRootfilePath("<container><rootfiles><rootfile full-path=\"OEBPS/content.opf\"/></rootfiles>"
                                "</container>"),
            "OEBPS/content.opf");
  EXPECT_EQ(KorEpubRootfilePath("<container><rootfile full-path=\"../../etc/passwd\"/></container>"), "");
  EXPECT_EQ(KorEpubRootfilePath("<container><rootfile full-path=\"/abs.opf\"/></container>"), "");
  EXPECT_EQ(KorEpubRootfilePath("<container><rootfile/></container>"), "");
  EXPECT_EQ(KorEpubRootfilePath("not xml"), "");
  EXPECT_EQ(KorEpubPackageTitle("<package><metadata xmlns:dc=\"x\"><dc:creator>A</dc:creator>"
                                "<dc:title>\n  Walden; or, Life in the Woods </dc:title></metadata></package>"),
            "Walden; or, Life in the Woods");
  EXPECT_EQ(KorEpubPackageTitle("<package><title>Not metadata</title></package>"), "");
  EXPECT_EQ(KorEpubPackageTitle("<package><metadata><dc:title/></metadata></package>"), "");
  std::string long_title(kKorMaxEpubTitle - 1, 'a');
  long_title += "\xc3\xa9\xc3\xa9";  // a two-byte character straddles the cut
  std::string cut = KorEpubPackageTitle("<package><metadata><title>" + long_title + "</title></metadata></package>");
  EXPECT_EQ(cut, std::string(kKorMaxEpubTitle - 1, 'a'));
  EXPECT_EQ(KorEpubTitle("/no/such/book.epub"), "");
}

TEST(BookNames, FourUpperCaseLettersAndTheOwnExtension) {
  for (int i = 0; i < 50; ++i) {
    std::string name = KorRandomBookName(".epub");
    ASSERT_EQ(name.size(), 9u);
    for (size_t c = 0; c < 4; ++c) EXPECT_TRUE(name[c] >= 'A' && name[c] <= 'Z') << name;
    EXPECT_EQ(name.substr(4), ".epub");
  }
}

TEST(RecordingCollection, FirstSourceWinsAndJsonKeepsMemberOrder) {
  KorRecordingCollection collection;
  KorRecording first;
  first.path = "/Recordings/a.m4a";
  first.label = "from the database";
  KorRecording second = first;
  second.label = "from the manifest";
  second.source = KorRecordingSource::kManifest;
  EXPECT_TRUE(collection.Add(first));
  EXPECT_FALSE(collection.Add(second));
  ASSERT_EQ(collection.Items().size(), 1u);
  EXPECT_EQ(collection.Items()[0].label, "from the database");
  EXPECT_EQ(KorRecordingsJson(collection.Items()),
            "[{\"path\":\"/Recordings/a.m4a\",\"size\":0,\"label\":\"from the database\",\"duration_int\":0.0,"
            "\"duration\":\"\",\"date_int\":0,\"date\":\"\",\"source\":0}]");
}

}  // namespace
