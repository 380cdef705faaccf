#include "utility/module/media/kor_book_list_edit.h"

#include <tinyxml2.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "iOSAPI/kor_plist_xml.h"

namespace {

tinyxml2::XMLElement* TopDictionary(tinyxml2::XMLDocument* document) {
  tinyxml2::XMLElement* plist = document->FirstChildElement("plist");
  return plist ? plist->FirstChildElement("dict") : nullptr;
}

bool IsKey(const tinyxml2::XMLElement* element, const char* name) {
  return element && std::strcmp(element->Name(), "key") == 0 && element->GetText() &&
         std::strcmp(element->GetText(), name) == 0;
}

// The value element after the key `name` in a dict element; null when there is none.
tinyxml2::XMLElement* MemberOf(tinyxml2::XMLElement* dict, const char* name) {
  for (tinyxml2::XMLElement* key = dict->FirstChildElement(); key; key = key->NextSiblingElement()) {
    tinyxml2::XMLElement* value = key->NextSiblingElement();
    if (!value) return nullptr;
    if (IsKey(key, name)) return value;
    key = value;
  }
  return nullptr;
}

void AppendMember(tinyxml2::XMLDocument* document, tinyxml2::XMLElement* dict, const char* key,
                  tinyxml2::XMLElement* value) {
  tinyxml2::XMLElement* key_element = document->NewElement("key");
  key_element->SetText(key);
  dict->InsertEndChild(key_element);
  dict->InsertEndChild(value);
}

tinyxml2::XMLElement* StringElement(tinyxml2::XMLDocument* document, const std::string& text) {
  tinyxml2::XMLElement* element = document->NewElement("string");
  element->SetText(text.c_str());
  return element;
}

std::string Printed(const tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer;
  document.Print(&printer);
  return std::string(printer.CStr(), static_cast<size_t>(printer.CStrSize() > 0 ? printer.CStrSize() - 1 : 0));
}

// The "Books" array of a parsed list; created when `create` is set and the member is missing.
tinyxml2::XMLElement* BooksArray(tinyxml2::XMLDocument* document, bool create) {
  tinyxml2::XMLElement* dict = TopDictionary(document);
  if (!dict) return nullptr;
  tinyxml2::XMLElement* books = MemberOf(dict, "Books");
  if (books) return std::strcmp(books->Name(), "array") == 0 ? books : nullptr;
  if (!create) return nullptr;
  books = document->NewElement("array");
  AppendMember(document, dict, "Books", books);
  return books;
}

}  // namespace

std::string KorEmptyBookListXml() {
  return KorPlistDocument(KorPlistDict({{"Books", KorPlistArray({})}}), KorPlistDoctype::kApple);
}

bool KorBookListAdd(const std::string& list_xml, const KorNewBookEntry& entry, std::string* out) {
  tinyxml2::XMLDocument document;
  if (document.Parse(list_xml.data(), list_xml.size()) != tinyxml2::XML_SUCCESS) return false;
  tinyxml2::XMLElement* books = BooksArray(&document, true);
  if (!books) return false;
  tinyxml2::XMLElement* dict = document.NewElement("dict");
  AppendMember(&document, dict, "Has Artwork", document.NewElement(entry.has_artwork ? "true" : "false"));
  AppendMember(&document, dict, "Name", StringElement(&document, entry.name));
  AppendMember(&document, dict, "Path", StringElement(&document, entry.path));
  char id[24];
  std::snprintf(id, sizeof(id), "%016" PRIX64, entry.persistent_id);
  AppendMember(&document, dict, "Persistent ID", StringElement(&document, id));
  books->InsertEndChild(dict);
  *out = Printed(document);
  return true;
}

int KorBookListRemove(const std::string& list_xml, const std::set<std::string>& paths, std::string* out,
                      std::set<std::string>* found) {
  tinyxml2::XMLDocument document;
  if (document.Parse(list_xml.data(), list_xml.size()) != tinyxml2::XML_SUCCESS || !TopDictionary(&document)) {
    return -1;
  }
  int removed = 0;
  tinyxml2::XMLElement* books = BooksArray(&document, false);
  for (tinyxml2::XMLElement* item = books ? books->FirstChildElement() : nullptr; item;) {
    tinyxml2::XMLElement* next = item->NextSiblingElement();
    tinyxml2::XMLElement* path = std::strcmp(item->Name(), "dict") == 0 ? MemberOf(item, "Path") : nullptr;
    if (path && path->GetText() && paths.count(path->GetText())) {
      found->insert(path->GetText());
      books->DeleteChild(item);
      ++removed;
    }
    item = next;
  }
  *out = Printed(document);
  return removed;
}
