// The memory-use figure reported by getNativeProbeStatus: the estimate in
// bytes that the memory monitor computed last. The definition here answers 0
// and is weak, so the memory monitor supplies the real figure by defining
// `long memoryInUse()` itself.
#pragma once

long memoryInUse();
