// Observer link between modules: a subject tells its observers about named events.
#pragma once

#include <mutex>
#include <vector>

class KSTObserver {
 public:
  virtual ~KSTObserver() = default;
  virtual void Update(void* record, const char* event_name) = 0;
};

class KSTSubject {
 public:
  virtual ~KSTSubject() = default;
  // Calls Update on every observer in attach order, on the caller's thread.
  virtual void Notify(void* record, const char* event_name);
  void Attach(KSTObserver* observer);

 private:
  std::mutex observers_mutex_;
  std::vector<KSTObserver*> observers_;
};

constexpr const char* kKorItunesBackupExtractFile = "KOR_ITUNES_BACKUP_EXTRACT_FILE";
