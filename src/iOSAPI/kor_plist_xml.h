// Host messages written as property-list XML: elements built from values (every text escaped)
// and the document around them, ready for KorXmlToMessage.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The two public identifiers host templates use in their DOCTYPE.
enum class KorPlistDoctype {
  kApple,          // "-//Apple//DTD PLIST 1.0//EN"
  kAppleComputer,  // "-//Apple Computer//DTD PLIST 1.0//EN"
};

// Escapes &, <, >, " and ' for XML text.
std::string KorXmlEscape(const std::string& text);

std::string KorPlistString(const std::string& text);
std::string KorPlistInteger(int64_t number);
std::string KorPlistReal(double number);
std::string KorPlistBool(bool flag);
// A dict from (key, element) pairs in the given order; the elements are already XML.
std::string KorPlistDict(const std::vector<std::pair<std::string, std::string>>& entries);
// An array of elements that are already XML.
std::string KorPlistArray(const std::vector<std::string>& elements);
// The whole document: XML declaration, DOCTYPE, and <plist version="1.0"> around `element`.
std::string KorPlistDocument(const std::string& element, KorPlistDoctype doctype);
