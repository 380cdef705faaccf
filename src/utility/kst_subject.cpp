#include "utility/kst_subject.h"

void KSTSubject::Notify(void* record, const char* event_name) {
  std::vector<KSTObserver*> observers;
  {
    std::lock_guard<std::mutex> lock(observers_mutex_);
    observers = observers_;
  }
  for (KSTObserver* observer : observers) observer->Update(record, event_name);
}

void KSTSubject::Attach(KSTObserver* observer) {
  std::lock_guard<std::mutex> lock(observers_mutex_);
  observers_.push_back(observer);
}
