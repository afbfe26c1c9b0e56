// The event side as the network side needs to know it: which event agent
// sends the opening packets (the hello packet and the class records), and
// who hears that a connection to the collector was lost or reset, so that
// the opening is sent again once the connection is back. The event agent
// manager implements it; agent/ installs it on the network agent manager at
// start, so that the network side does not know the event side.
#pragma once

class EventAgent;

class ReconnectListener {
 public:
  // The master event agent, whose packets open a connection; null when none.
  virtual EventAgent* master() const = 0;
  // The master resends its hello packet and the class records.
  virtual void resendInitData() = 0;

 protected:
  ~ReconnectListener() = default;
};
