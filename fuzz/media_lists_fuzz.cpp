// Property lists from a device's media folders: the book lists, the ringtone list and the
// recordings manifests through their readers, the book-list edits of adding and removing books, and
// an EPUB's container and package documents.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "iOSAPI/kor_xml_value.h"
#include "utility/module/media/kor_book_list_edit.h"
#include "utility/module/media/kor_epub_title.h"
#include "utility/module/media/kor_media_plists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  KorValue root;
  if (KorXmlTextToValue(text, &root)) {
    KorReadBookList(root);
    KorReadRingtoneList(root);
    KorReadRecordingManifest(root);
  }
  std::string edited;
  std::set<std::string> found;
  KorBookListAdd(text, {"Title", "ABCD.epub", 42, false}, &edited);
  KorBookListRemove(text, {"ABCD.epub", "KZQT.epub"}, &edited, &found);
  KorIsConfinedRelativePath(text);
  KorEpubRootfilePath(text);
  KorEpubPackageTitle(text);
  return 0;
}
