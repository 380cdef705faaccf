// Turning property-list XML into the value tree.
#pragma once

#include <string>

#include "iOSAPI/kor_value.h"

namespace tinyxml2 {
class XMLElement;
}

// A <dict> element as a dictionary value (pairs of elements: key, then value).
KorValue KorXmlDictionaryToValue(const tinyxml2::XMLElement* dict);
// An <array> element as an array value (dates and data inside arrays are left out).
KorValue KorXmlArrayToValue(const tinyxml2::XMLElement* array);
// A whole property-list document: its top element (under <plist>) converted; false when the
// text has no root element.
bool KorXmlTextToValue(const std::string& xml, KorValue* out);
