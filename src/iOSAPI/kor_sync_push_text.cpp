#include "iOSAPI/kor_sync_push_text.h"

#include <tinyxml2.h>

#include <cstring>

namespace {

bool IsString(const tinyxml2::XMLElement* element, const char* text) {
  if (!element || std::strcmp(element->Name(), "string") != 0) return false;
  const char* value = element->GetText();
  return std::strcmp(value ? value : "", text) == 0;
}

}  // namespace

bool KorSyncPushElements(const std::string& document, const std::string& data_class,
                         std::vector<std::string>* elements) {
  elements->clear();
  if (document.empty() || document.size() > kKorMaxPushText) return false;
  tinyxml2::XMLDocument xml;
  // tinyxml2 refuses documents nested deeper than its element-depth bound.
  if (xml.Parse(document.c_str(), document.size()) != tinyxml2::XML_SUCCESS) return false;
  const tinyxml2::XMLElement* plist = xml.FirstChildElement("plist");
  const tinyxml2::XMLElement* array = plist ? plist->FirstChildElement() : nullptr;
  if (!array || std::strcmp(array->Name(), "array") != 0) return false;
  const tinyxml2::XMLElement* name = array->FirstChildElement();
  const tinyxml2::XMLElement* data = name ? name->NextSiblingElement() : nullptr;
  if (!IsString(name, "SDMessageProcessChanges") || !IsString(data, data_class.c_str())) return false;
  for (const tinyxml2::XMLElement* element = data->NextSiblingElement(); element;
       element = element->NextSiblingElement()) {
    tinyxml2::XMLPrinter printer(nullptr, true);
    element->Accept(&printer);
    elements->emplace_back(printer.CStr(), static_cast<size_t>(printer.CStrSize() > 0 ? printer.CStrSize() - 1 : 0));
  }
  return !elements->empty();
}
