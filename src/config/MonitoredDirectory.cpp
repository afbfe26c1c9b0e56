// The monitored directory <home>/lib/monitored/<server>, made at start-up
// when it is missing, with the system's path separator (the backslash on
// Windows).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/Identity.h"
#include "platform/os.h"

namespace {

// Creates a directory, first its parent when the parent cannot be entered.
void makeDir(const char* path) {
  std::string parent(path);
  size_t slash = parent.find_last_of(os::kPathSeparator);
  if (slash != std::string::npos && slash > 0) {
    parent.resize(slash);
    std::string here = os::currentDirectory(nullptr);
    if (os::changeDirectory(parent.c_str()) != 0)
      makeDir(parent.c_str());
    else
      os::changeDirectory(here.c_str());
  }
  int error = os::makeDirectory(path);
  if (error != 0 && error != EEXIST)
    std::fprintf(stderr, "makeDir: Failed to create directory %s, error code = %d\n", path, error);
}

}  // namespace

void createMonitoredDirectory() {
  char libPath[512];
  std::snprintf(libPath, sizeof libPath, "%s%clib", homeDir, os::kPathSeparator);
  int error = 0;
  std::string remembered = os::currentDirectory(&error);
  if (remembered.empty())
    std::fprintf(stderr, "halden_getcwd failed to get current directory. error number = %d.\n",
                 error);
  error = os::changeDirectory(libPath);
  if (error != 0) {
    std::fprintf(stderr, "%s doesn't exist.\n", libPath);
    std::fprintf(stderr, "Can't open dir %s, error code =%d.\n", libPath, error);
  } else {
    char monitored[1024];
    std::snprintf(monitored, sizeof monitored, "%s%cmonitored%c%s", libPath, os::kPathSeparator,
                  os::kPathSeparator, serverName);
    if (os::changeDirectory(monitored) != 0) {
      std::fprintf(stderr, "%s doesn't exist.\n", monitored);
      std::printf("Create directory %s\n", monitored);
      makeDir(monitored);
    } else {
      std::printf("%s exists.\n", monitored);
    }
  }
  if (!remembered.empty()) os::changeDirectory(remembered.c_str());
}
