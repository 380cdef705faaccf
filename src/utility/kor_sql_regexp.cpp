#include "utility/kor_sql_regexp.h"

#include <re2/re2.h>

#include <cctype>
#include <memory>

namespace {

constexpr const char* kInvalidArguments = "SQL function regexp() called with invalid arguments.\n";
constexpr int kNoPattern = -1;
// Both texts come from staged databases the device wrote: they are bounded so that compiling and
// searching stay cheap whatever they hold.
constexpr size_t kMaxText = 4096;
// The compiled program of a 4 KiB pattern fits easily; a pattern whose counted repetitions blow
// it up is refused rather than given more memory.
constexpr int64_t kMaxProgramMemory = 4 << 20;

std::string UpperBytes(const char* text, size_t length) {
  std::string upper(text, length);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// A linear-time automaton instead of a backtracking matcher: a hostile pattern or subject can
// cost time proportional to their sizes, never exponential. Bytes are matched one by one (Latin-1)
// like the character matcher this replaces, so invalid UTF-8 is no error. Back-references and
// look-arounds have no linear-time form and do not compile, which the caller reports as misuse.
std::unique_ptr<RE2> Compile(const std::string& pattern) {
  if (pattern.empty() || pattern.size() > kMaxText) return nullptr;
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingLatin1);
  options.set_log_errors(false);
  options.set_max_mem(kMaxProgramMemory);
  auto expression = std::make_unique<RE2>(UpperBytes(pattern.data(), pattern.size()), options);
  if (!expression->ok()) return nullptr;
  return expression;
}

int Search(const RE2& expression, const std::string& subject) {
  if (subject.empty() || subject.size() > kMaxText) return kNoPattern;
  return RE2::PartialMatch(UpperBytes(subject.data(), subject.size()), expression) ? 1 : 0;
}

std::string ArgumentText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  int length = sqlite3_value_bytes(value);
  if (!text || length <= 0) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

void DeleteExpression(void* expression) { delete static_cast<RE2*>(expression); }

// SQLite passes the REGEXP operator's right operand first: argument 0 is the pattern. A constant
// pattern is compiled once per statement: SQLite keeps it beside argument 0 while that argument
// stays the same.
void RegexpFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 2) {
    sqlite3_result_error(context, kInvalidArguments, -1);
    return;
  }
  auto* expression = static_cast<const RE2*>(sqlite3_get_auxdata(context, 0));
  std::unique_ptr<RE2> compiled;
  if (!expression) {
    compiled = Compile(ArgumentText(argv[0]));
    expression = compiled.get();
  }
  int found = expression ? Search(*expression, ArgumentText(argv[1])) : kNoPattern;
  if (found == kNoPattern) {
    sqlite3_result_error(context, kInvalidArguments, -1);
  } else {
    sqlite3_result_int(context, found);
  }
  // Handed over after use: SQLite may destroy it at once when it cannot keep it.
  if (compiled) sqlite3_set_auxdata(context, 0, compiled.release(), DeleteExpression);
}

}  // namespace

int KorRegexpSearch(const std::string& pattern, const std::string& subject) {
  std::unique_ptr<RE2> expression = Compile(pattern);
  if (!expression) return kNoPattern;
  return Search(*expression, subject);
}

int KorRegisterRegexp(sqlite3* db) {
  return sqlite3_create_function(db, "regexp", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, RegexpFunction,
                                 nullptr, nullptr);
}
