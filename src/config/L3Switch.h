// Method-level tracing is driven from the Java side: switching level 3 on or
// off only logs which way it is handled.
#pragma once

void runL3Switch();
