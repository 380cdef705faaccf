// The process-changes message that adds a plain-text note: the note under the host's
// identifier with both its dates, then the flags that say which record kind was sent.
#pragma once

#include <string>
#include <vector>

// The elements after the data class; the title and content go in as escaped XML text.
std::vector<std::string> KorNewNoteElements(const std::string& host_id, const std::string& title,
                                            const std::string& content, const std::string& utc_now);
