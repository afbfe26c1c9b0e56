#include "profiler/EventHandler.h"

#include "config/ProbeState.h"
#include "threads/ThreadEvents.h"

void notifyEvent(JVMPI_Event* event) {
  if (!event) return;
  jint type = event->event_type & ~JVMPI_REQUESTED_EVENT;
  // While the probe is disabled only the class-load hook and init-done pass.
  if (probeDisabled.load(std::memory_order_relaxed) && type != JVMPI_EVENT_CLASS_LOAD_HOOK &&
      type != JVMPI_EVENT_JVM_INIT_DONE)
    return;
  switch (type) {
    case JVMPI_EVENT_THREAD_START:
      threadStartEvent(event);
      break;
    case JVMPI_EVENT_THREAD_END:
      threadEndEvent(event);
      break;
    default:
      break;
  }
}

void installEventHandler() {
  if (jvmpi && !jvmpi->NotifyEvent) jvmpi->NotifyEvent = notifyEvent;
}
