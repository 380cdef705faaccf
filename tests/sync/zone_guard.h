// Sets the process's time zone (TZ) for one scope and puts the previous one back.
#pragma once

#include <cstdlib>
#include <string>

class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
  }
  ~ZoneGuard() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
  }

 private:
  bool had_ = false;
  std::string old_;
};
