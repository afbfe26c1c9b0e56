// The method-level options that steer how the method table is read and how
// unloaded classes leave the tables.
#pragma once

#include "config/ProducerSettings.h"

// Takes the method-level options (sync flag, cleanup threshold and interval)
// and prints which way method lookups go.
void applyMethodLevelOptions(const MethodLevelSettings& settings);
// Method-table lookups take the stripe lock while this is set. Read and
// written in sequentially consistent order (see MethodTable.h).
bool methodLevelSync();
void setMethodLevelSync(bool on);
// Also on between beginQuiesce and endQuiesce, which threads that remove
// method records call around the removal (nested and from several threads).
void beginQuiesce();
void endQuiesce();
// -1: dead entries are removed at once (method-level sync is on).
int cleanupThreshold();
int cleanupInterval();
