// Base64 (standard alphabet) as the value tree holds property-list data, decoded with OpenSSL.
#pragma once

#include <string>

// Decodes text that may carry line breaks and spaces (as property-list XML wraps data);
// false when it is not valid Base64.
bool KorBase64Decode(const std::string& text, std::string* bytes);
