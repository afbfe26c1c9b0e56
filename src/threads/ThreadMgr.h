// The thread table: one ThreadData per monitored thread, keyed by thread id.
#pragma once

#include "base/NamedObject.h"

class ThreadMgr : public NamedObject {
 public:
  ThreadMgr();
  ~ThreadMgr() override;
  void start();
  void stop();
};

extern ThreadMgr* threadMgr;
