#include "agent/SamplingRates.h"

#include "agent/ProbeState.h"
#include "base/Log.h"

void setSamplingRates(JNIEnv*, const jint* rates, int count, jint extra) {
  if (probeDisabled.load()) {
    logMessage(LOG_INFO, "Native probe is disabled, rejecting setNativeSamplingRates");
    return;
  }
  for (int i = 0; i < count && i < 4; i++) samplingRates[i].store(rates[i]);
  samplingExtra.store(extra);
}
