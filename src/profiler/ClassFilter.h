// The include/exclude filter that decides per class whether it is monitored:
// 0 monitored, 1 excluded, 2 class records only.
//
// The lists are replaced as a whole. A class load may be reading the old
// lists while they are replaced, so each reader takes a reference to the
// lists it reads; the old lists go when their last reader is done.
#pragma once

#include <string>
#include <vector>

constexpr int FILTER_MONITORED = 0;
constexpr int FILTER_EXCLUDED = 1;
constexpr int FILTER_CLASS_ONLY = 2;

// The verdict for a class name in slash form (null gives 0).
int classFilter(const char* name);

// Installs new lists (the old ones are released once unused). Before the
// first call both lists are absent and match nothing.
void setFilterLists(std::vector<std::string> include, std::vector<std::string> exclude);
