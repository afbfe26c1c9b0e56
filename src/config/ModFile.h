// The MOD file keeps the monitoring level across restarts: read at start-up,
// created holding "2" when missing.
#pragma once

void runModFileStep();
