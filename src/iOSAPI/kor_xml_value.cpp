#include "iOSAPI/kor_xml_value.h"

#include <strings.h>
#include <tinyxml2.h>

#include <cstdlib>

#include "iOSAPI/kor_cf_value.h"

namespace {

bool Is(const tinyxml2::XMLElement* element, const char* tag) {
  return element->Name() && strcasecmp(element->Name(), tag) == 0;
}

// _atoi64 rules: leading white space, a sign, then digits; 0 when there are none.
int64_t LeadingInteger(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  uint64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<uint64_t>(*text - '0');
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

KorValue Dictionary(const tinyxml2::XMLElement* dict, int depth);
KorValue Array(const tinyxml2::XMLElement* array, int depth);

bool NeedsNoText(const tinyxml2::XMLElement* value) {
  return Is(value, "true") || Is(value, "false") || Is(value, "array") || Is(value, "dict");
}

// The dictionary value conversion; false for unknown tags.
bool ScalarOrContainer(const tinyxml2::XMLElement* value, int depth, bool in_array, KorValue* out) {
  const char* text = value->GetText();
  if (Is(value, "string") || (!in_array && (Is(value, "date") || Is(value, "data")))) {
    *out = KorValue::String(text ? text : "");
  } else if (Is(value, "integer")) {
    *out = KorValue::Int64(LeadingInteger(text));
  } else if (Is(value, "real")) {
    *out = KorValue::Double(text ? std::atof(text) : 0.0);
  } else if (Is(value, "true")) {
    *out = KorValue::Bool(true);
  } else if (Is(value, "false")) {
    *out = KorValue::Bool(false);
  } else if (Is(value, "array")) {
    *out = Array(value, depth + 1);
  } else if (Is(value, "dict")) {
    *out = Dictionary(value, depth + 1);
  } else {
    return false;
  }
  return true;
}

KorValue Dictionary(const tinyxml2::XMLElement* dict, int depth) {
  auto dictionary = CIOSDictionary::Create();
  if (depth >= kKorMaxValueDepth) return KorValue::MakeDictionary(dictionary);
  const tinyxml2::XMLElement* key = dict->FirstChildElement();
  while (key) {
    const tinyxml2::XMLElement* value = key->NextSiblingElement();
    if (!value) break;
    KorValue converted;
    bool has_texts = key->GetText() && (value->GetText() || NeedsNoText(value));
    if (has_texts && ScalarOrContainer(value, depth, false, &converted)) {
      dictionary->Set(key->GetText(), std::move(converted));
    }
    key = value->NextSiblingElement();
  }
  return KorValue::MakeDictionary(dictionary);
}

KorValue Array(const tinyxml2::XMLElement* array, int depth) {
  KorValue result = KorValue::MakeArray();
  if (depth >= kKorMaxValueDepth) return result;
  for (const auto* element = array->FirstChildElement(); element; element = element->NextSiblingElement()) {
    KorValue converted;
    if (ScalarOrContainer(element, depth, true, &converted)) result.MutableArray().push_back(std::move(converted));
  }
  return result;
}

}  // namespace

KorValue KorXmlDictionaryToValue(const tinyxml2::XMLElement* dict) { return Dictionary(dict, 0); }

KorValue KorXmlArrayToValue(const tinyxml2::XMLElement* array) { return Array(array, 0); }

bool KorXmlTextToValue(const std::string& xml, KorValue* out) {
  tinyxml2::XMLDocument document;
  if (document.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) return false;
  const tinyxml2::XMLElement* root = document.RootElement();
  if (!root) return false;
  const tinyxml2::XMLElement* top = Is(root, "plist") ? root->FirstChildElement() : root;
  if (!top) return false;
  if (Is(top, "array")) {
    *out = KorXmlArrayToValue(top);
  } else {
    *out = KorXmlDictionaryToValue(top);
  }
  return true;
}
