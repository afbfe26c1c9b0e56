#include "support/FakeJvmpi.h"

#include <chrono>
#include <condition_variable>

struct JVMPI_RawMonitorBody {
  std::recursive_mutex mutex;
  std::condition_variable_any cond;
};

namespace {
std::atomic<FakeJvmpi*> installed{nullptr};
}

struct FakeJvmpiEntries {
  static FakeJvmpi& self() { return *installed.load(); }
  static void record(std::vector<jint>& list, jint event) {
    std::lock_guard<std::mutex> guard(self().mutex_);
    list.push_back(event);
  }
  static jint enable(jint event, void*) {
    record(self().enabled_, event);
    return JVMPI_SUCCESS;
  }
  static jint disable(jint event, void*) {
    record(self().disabled_, event);
    return JVMPI_SUCCESS;
  }
  static jint request(jint, void*) { return JVMPI_NOT_AVAILABLE; }
  static JVMPI_RawMonitor create(char* name) {
    if (self().failCreate_) return nullptr;
    {
      std::lock_guard<std::mutex> guard(self().mutex_);
      self().names_.push_back(name ? name : "");
    }
    self().created_++;
    return new JVMPI_RawMonitorBody();
  }
  static void enter(JVMPI_RawMonitor m) { m->mutex.lock(); }
  static void exit(JVMPI_RawMonitor m) { m->mutex.unlock(); }
  static void wait(JVMPI_RawMonitor m, jlong millis) {
    if (self().instantWaits_) return;
    // Nobody notifies: the wait runs to its time-out, releasing the monitor
    // meanwhile as a raw monitor wait does.
    std::unique_lock<std::recursive_mutex> hold(m->mutex, std::adopt_lock);
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (m->cond.wait_until(hold, until) != std::cv_status::timeout) {
    }
    hold.release();
  }
  static void notifyAll(JVMPI_RawMonitor m) { m->cond.notify_all(); }
  static void destroy(JVMPI_RawMonitor m) {
    self().destroyed_++;
    delete m;
  }
  static jlong cpuTime() { return self().cpuTime_.load(); }
  static jobjectID methodClass(jmethodIDp) { return 0; }
  static void gc() {}
  static jobjectID threadObject(JNIEnv*) { return 0; }
  static jint threadStatus(JNIEnv*) { return JVMPI_THREAD_RUNNABLE; }
};

FakeJvmpi::FakeJvmpi() {
  table.version = JVMPI_VERSION_1_1;
  table.EnableEvent = FakeJvmpiEntries::enable;
  table.DisableEvent = FakeJvmpiEntries::disable;
  table.RequestEvent = FakeJvmpiEntries::request;
  table.RawMonitorCreate = FakeJvmpiEntries::create;
  table.RawMonitorEnter = FakeJvmpiEntries::enter;
  table.RawMonitorExit = FakeJvmpiEntries::exit;
  table.RawMonitorWait = FakeJvmpiEntries::wait;
  table.RawMonitorNotifyAll = FakeJvmpiEntries::notifyAll;
  table.RawMonitorDestroy = FakeJvmpiEntries::destroy;
  table.GetCurrentThreadCpuTime = FakeJvmpiEntries::cpuTime;
  table.GetMethodClass = FakeJvmpiEntries::methodClass;
  table.DisableGC = FakeJvmpiEntries::gc;
  table.EnableGC = FakeJvmpiEntries::gc;
  table.GetThreadObject = FakeJvmpiEntries::threadObject;
  table.GetThreadStatus = FakeJvmpiEntries::threadStatus;
}

FakeJvmpi::~FakeJvmpi() {
  uninstall();
}

void FakeJvmpi::install() {
  installed.store(this);
  jvmpi = &table;
}

void FakeJvmpi::uninstall() {
  if (installed.load() == this) {
    jvmpi = nullptr;
    installed.store(nullptr);
  }
}

// Copies of the recorded lists, taken under the lock.
#define LOCKED_COPY(type, name, member)        \
  type FakeJvmpi::name() {                     \
    std::lock_guard<std::mutex> guard(mutex_); \
    return member;                             \
  }
LOCKED_COPY(std::vector<jint>, enabled, enabled_)
LOCKED_COPY(std::vector<jint>, disabled, disabled_)
LOCKED_COPY(std::vector<std::string>, monitorNames, names_)
