#include "utility/module/media/kor_epub_title.h"

#include <tinyxml2.h>

#include <cstring>

#include "utility/kor_zip_entry.h"
#include "utility/module/media/kor_media_plists.h"

namespace {

// The local part of an element name: "dc:title" → "title".
const char* LocalName(const tinyxml2::XMLElement* element) {
  const char* name = element->Name();
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

// Depth-first search for the first element with the local name; documents nest at most
// TINYXML2_MAX_ELEMENT_DEPTH deep, so the recursion is bounded.
const tinyxml2::XMLElement* FindElement(const tinyxml2::XMLElement* parent, const char* local_name) {
  for (const tinyxml2::XMLElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement()) {
    if (std::strcmp(LocalName(child), local_name) == 0) return child;
    if (const tinyxml2::XMLElement* found = FindElement(child, local_name)) return found;
  }
  return nullptr;
}

std::string Trimmed(const char* text) {
  std::string value = text ? text : "";
  size_t first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  value = value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
  if (value.size() <= kKorMaxEpubTitle) return value;
  size_t cut = kKorMaxEpubTitle;
  while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
  return value.substr(0, cut);
}

}  // namespace

std::string KorEpubRootfilePath(const std::string& container_xml) {
  tinyxml2::XMLDocument document;
  if (document.Parse(container_xml.data(), container_xml.size()) != tinyxml2::XML_SUCCESS ||
      !document.RootElement()) {
    return std::string();
  }
  const tinyxml2::XMLElement* rootfile = std::strcmp(LocalName(document.RootElement()), "rootfile") == 0
                                             ? document.RootElement()
                                             : FindElement(document.RootElement(), "rootfile");
  const char* path = rootfile ? rootfile->Attribute("full-path") : nullptr;
  if (!path || !KorIsConfinedRelativePath(path)) return std::string();
  return path;
}

std::string KorEpubPackageTitle(const std::string& package_xml) {
  tinyxml2::XMLDocument document;
  if (document.Parse(package_xml.data(), package_xml.size()) != tinyxml2::XML_SUCCESS || !document.RootElement()) {
    return std::string();
  }
  const tinyxml2::XMLElement* metadata = FindElement(document.RootElement(), "metadata");
  const tinyxml2::XMLElement* title = metadata ? FindElement(metadata, "title") : nullptr;
  return title ? Trimmed(title->GetText()) : std::string();
}

std::string KorEpubTitle(const std::string& path) {
  KorUnzipFile archive = KorOpenZip(path);
  std::string container;
  std::string package;
  if (!archive ||
      !KorReadZipEntry(archive.get(), "META-INF/container.xml", kKorMaxEpubDocument, &container)) {
    return std::string();
  }
  std::string package_path = KorEpubRootfilePath(container);
  if (package_path.empty() || !KorReadZipEntry(archive.get(), package_path, kKorMaxEpubDocument, &package)) {
    return std::string();
  }
  return KorEpubPackageTitle(package);
}
