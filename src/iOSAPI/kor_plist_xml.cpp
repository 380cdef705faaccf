#include "iOSAPI/kor_plist_xml.h"

#include <cstdio>

std::string KorXmlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

std::string KorPlistString(const std::string& text) { return "<string>" + KorXmlEscape(text) + "</string>"; }

std::string KorPlistInteger(int64_t number) { return "<integer>" + std::to_string(number) + "</integer>"; }

std::string KorPlistReal(double number) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.17g", number);
  return std::string("<real>") + text + "</real>";
}

std::string KorPlistBool(bool flag) { return flag ? "<true/>" : "<false/>"; }

std::string KorPlistDict(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string xml = "<dict>";
  for (const auto& [key, element] : entries) xml += "<key>" + KorXmlEscape(key) + "</key>" + element;
  return xml + "</dict>";
}

std::string KorPlistArray(const std::vector<std::string>& elements) {
  std::string xml = "<array>";
  for (const auto& element : elements) xml += element;
  return xml + "</array>";
}

std::string KorPlistDocument(const std::string& element, KorPlistDoctype doctype) {
  const char* identifier =
      doctype == KorPlistDoctype::kApple ? "-//Apple//DTD PLIST 1.0//EN" : "-//Apple Computer//DTD PLIST 1.0//EN";
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"") + identifier +
         "\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">" + element + "</plist>\n";
}
