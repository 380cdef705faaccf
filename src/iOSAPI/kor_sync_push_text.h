// Process-changes messages that the front-end writes itself: a whole property-list document
// whose array names "SDMessageProcessChanges" and the data class, then the records and flags.
// The session sends its own name and data class, so only the elements after them are taken.
#pragma once

#include <string>
#include <vector>

// The largest document text that is taken.
constexpr size_t kKorMaxPushText = 0xA00000;

// The XML of every element after the data class; false when the text is no property-list
// document whose root array starts with "SDMessageProcessChanges" and `data_class`, or holds
// nothing after them.
bool KorSyncPushElements(const std::string& document, const std::string& data_class,
                         std::vector<std::string>* elements);
