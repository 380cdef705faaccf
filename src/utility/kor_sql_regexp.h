// The SQL function regexp(pattern, subject) that the photo queries use through the REGEXP
// operator: a search anywhere in the subject, case-insensitive for ASCII letters, by a matcher
// whose time grows linearly with the texts (no back-references, no look-arounds).
#pragma once

#include <sqlite3.h>

#include <string>

// Registers "regexp" (2 arguments, UTF-8, deterministic) on the connection; SQLite's code.
int KorRegisterRegexp(sqlite3* db);

// The function's result for two texts: 1 match, 0 none, -1 invalid arguments (either text
// empty or longer than 4 KiB) or a pattern that does not compile or needs more than 4 MiB.
int KorRegexpSearch(const std::string& pattern, const std::string& subject);
