#include "requests/SamplingRates.h"

#include "base/Log.h"
#include "config/ProbeState.h"
#include "requests/SamplingRecord.h"
#include "threads/EntryGate.h"

void setSamplingRates(JNIEnv* env, const jint* rates, int count, jint extra) {
  ThreadData* data;
  bool gateOpen = passEntryGate(env, &data);
  if (probeDisabled.load()) {
    logMessage(LOG_INFO, "Native probe is disabled, rejecting setNativeSamplingRates");
    return;
  }
  for (int i = 0; i < count && i < 4; i++) samplingRates[i].store(rates[i]);
  samplingExtra.store(extra);
  // The rates are kept even while the memory gate is closed (the event agents
  // send them after every hello packet); only the record waits for the gate.
  if (!gateOpen) return;
  int32_t table[4];
  for (int i = 0; i < 4; i++) table[i] = samplingRates[i].load();
  sendSamplingRatesRecord(env, table, extra);
}
