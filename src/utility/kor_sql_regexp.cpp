#include "utility/kor_sql_regexp.h"

#include <cctype>
#include <regex>

namespace {

constexpr const char* kInvalidArguments = "SQL function regexp() called with invalid arguments.\n";
constexpr int kNoPattern = -1;
// The standard library's matcher recurses per character: longer texts (table names of a hostile
// database) are refused instead of risking the thread's stack.
constexpr size_t kMaxText = 4096;

std::string UpperBytes(const unsigned char* text, int length) {
  std::string upper;
  if (!text || length <= 0) return upper;
  upper.reserve(static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) upper.push_back(static_cast<char>(std::toupper(text[i])));
  return upper;
}

std::string ArgumentText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  int length = sqlite3_value_bytes(value);
  if (!text || length <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

// SQLite passes the REGEXP operator's right operand first: argument 0 is the pattern.
void RegexpFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 2) {
    sqlite3_result_error(context, kInvalidArguments, -1);
    return;
  }
  std::string pattern = ArgumentText(argv[0]);
  std::string subject = ArgumentText(argv[1]);
  int found = KorRegexpSearch(pattern, subject);
  if (found == kNoPattern) {
    sqlite3_result_error(context, kInvalidArguments, -1);
    return;
  }
  sqlite3_result_int(context, found);
}

}  // namespace

int KorRegexpSearch(const std::string& pattern, const std::string& subject) {
  if (pattern.empty() || subject.empty() || pattern.size() > kMaxText || subject.size() > kMaxText) return kNoPattern;
  std::string upper_pattern = UpperBytes(reinterpret_cast<const unsigned char*>(pattern.data()),
                                         static_cast<int>(pattern.size()));
  std::string upper_subject = UpperBytes(reinterpret_cast<const unsigned char*>(subject.data()),
                                         static_cast<int>(subject.size()));
  try {
    std::regex expression(upper_pattern);
    return std::regex_search(upper_subject, expression) ? 1 : 0;
  } catch (const std::regex_error&) {
    // A pattern the library cannot compile is reported like any other misuse.
    return kNoPattern;
  }
}

int KorRegisterRegexp(sqlite3* db) {
  return sqlite3_create_function(db, "regexp", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, RegexpFunction,
                                 nullptr, nullptr);
}
