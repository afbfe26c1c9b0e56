// Persistence of the correlation-token counter: the serialiser hands over
// the counter of every invoke-start correlation record it writes, and the
// counter file is rewritten once a token passes the saved mark.
#pragma once

#include <cstdint>

void saveGpsCounter(uint32_t token);
