// The probe manager: holds the values the serialiser sends in its hello
// packet and starts and stops the profiler events of the probe.
#pragma once

#include "base/NamedObject.h"

class ProbeMgr : public NamedObject {
 public:
  ProbeMgr();

  void start();
  // Disables the profiler events (the manager's part of the stop order).
  void stop();

  char productVersion[100];
  char commandAgentID[256];
  int adminServerPort;
  bool firstStart;
};

extern ProbeMgr* probeMgr;

struct HelloIdentity;
// The probe manager's part of the hello packet: product version, command
// agent id and admin port (nothing while there is no manager). Installed as
// the event agents' identity source at start-up.
void fillProbeIdentity(HelloIdentity* identity);
