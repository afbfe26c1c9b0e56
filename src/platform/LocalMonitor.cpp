#include "platform/LocalMonitor.h"

#include <chrono>

void LocalMonitor::enter() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (entries_ > 0 && owner_ == self) {
    entries_++;
    return;
  }
  changed_.wait(hold, [this] { return entries_ == 0; });
  owner_ = self;
  entries_ = 1;
}

bool LocalMonitor::exit() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (entries_ == 0 || owner_ != std::this_thread::get_id()) return false;
  if (--entries_ == 0) {
    owner_ = std::thread::id();
    changed_.notify_all();
  }
  return true;
}

bool LocalMonitor::wait(int64_t millis) {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> hold(mutex_);
  if (entries_ == 0 || owner_ != self) return false;
  if (millis < 0) return true;
  const int entries = entries_;
  entries_ = 0;
  owner_ = std::thread::id();
  changed_.notify_all();

  const uint64_t seen = notifications_;
  auto notified = [this, seen] { return notifications_ != seen; };
  if (millis > 0) {
    changed_.wait_until(hold, std::chrono::steady_clock::now() + std::chrono::milliseconds(millis),
                        notified);
  } else {
    changed_.wait(hold, notified);
  }

  changed_.wait(hold, [this] { return entries_ == 0; });
  owner_ = self;
  entries_ = entries;
  return true;
}

bool LocalMonitor::notifyAll() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (entries_ == 0 || owner_ != std::this_thread::get_id()) return false;
  notifications_++;
  changed_.notify_all();
  return true;
}
