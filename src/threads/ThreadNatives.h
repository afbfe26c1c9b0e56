// The plain work of the thread-table natives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

// Writes each id as "%10d;" (11 characters for ids that fit in ten columns)
// one after the other, cut at whole ids to fit `size`; returns the length.
int formatStoppedThreadIds(const uint32_t* ids, int count, char* out, int size);

// "Approximate Halden Native Memory consumed(bytes): %ld \n".
void formatProbeStatus(long bytes, char* out, int size);

// The id of the first thread whose thread and group names are the given ones
// (a null name counts as empty), or 0.
uint32_t threadIdByNames(const char* threadName, const char* groupName);
