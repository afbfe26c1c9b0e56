#include "config/Identity.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/Log.h"
#include "platform/os.h"

char homeDir[256];
char nodeName[256];
char serverName[256];
char profileName[256];
char extDirs[2000];
char bootClassName[256];
JavaVM* javaVM = nullptr;

namespace {

std::vector<std::string>& argumentCopy() {
  static std::vector<std::string> copy;
  return copy;
}

// Copies at most size - 1 characters and always ends the field.
void copyCut(char* field, size_t size, const char* value) {
  std::snprintf(field, size, "%s", value ? value : "");
}

struct Prefix {
  const char* text;
  int value;  // 0 home, 1 node, 2 server, 3 profile, 4 extension directories
};
// Compared in this order; the first match takes the argument.
constexpr Prefix kPrefixes[] = {
    {"-Dhm.home=", 0},     {"-Dhm.nodename=", 1},  {"-Dhm.appserver=", 2}, {"-Dhm.profilename=", 3},
    {"-Dhm.ext.dirs=", 4}, {"hm.home=", 0},        {"hm.nodename=", 1},    {"hm.appserver=", 2},
    {"hm.ext.dirs=", 4},   {"hm.profilename=", 3},
};

}  // namespace

int argumentCount() {
  return static_cast<int>(argumentCopy().size());
}

const char* argumentAt(int index) {
  if (index < 0 || index >= argumentCount()) return nullptr;
  return argumentCopy()[index].c_str();
}

void resolveIdentity(int argc, const char* const* argv) {
  // Command-line values: 1023 characters at most, 1999 for the extension
  // directories.
  char commandLine[5][2000] = {};
  const size_t limits[5] = {1024, 1024, 1024, 1024, 2000};
  for (int i = 0; i < argc; i++) {
    const char* arg = argv[i];
    if (!arg) continue;
    for (const Prefix& prefix : kPrefixes) {
      size_t len = std::strlen(prefix.text);
      if (std::strncmp(arg, prefix.text, len) == 0) {
        copyCut(commandLine[prefix.value], limits[prefix.value], arg + len);
        break;
      }
    }
  }
  struct Value {
    char* field;
    const char* env;
    const char* fallback;
    const char* error;
  };
  const Value values[4] = {
      {homeDir, "hm.home", "/halden",
       "ERROR: hm.home system property undefined, please define it\n"},
      {nodeName, "hm.nodename", "defaultnode",
       "ERROR: hm.nodename(for QAS) or weblogic.Domain(for WLS) system property undefined, please "
       "define it\n"},
      {serverName, "hm.appserver", "appserver",
       "ERROR: hm.appserver (for QAS) or weblogic.Name(for WLS) system property undefined, please "
       "define it\n"},
      {profileName, "hm.profilename", "", nullptr},
  };
  for (int i = 0; i < 4; i++) {
    const Value& v = values[i];
    if (commandLine[i][0]) {
      copyCut(v.field, 256, commandLine[i]);
    } else if (const char* env = os::getEnv(v.env)) {
      copyCut(v.field, 256, env);
    } else {
      copyCut(v.field, 256, v.fallback);
      if (v.error) std::fputs(v.error, stderr);
    }
  }
  copyCut(extDirs, sizeof extDirs, commandLine[4]);
}

void makeHomeDirAbsolute() {
  if (homeDir[0] == '\0' || os::isAbsolutePath(homeDir)) return;
  std::string here = os::currentDirectory(nullptr);
  if (here.empty()) return;
  std::string absolute = here + (here.back() == '/' ? "" : "/") + homeDir;
  copyCut(homeDir, sizeof homeDir, absolute.c_str());
}

void setArgumentCopy(std::vector<std::string> arguments) {
  argumentCopy() = std::move(arguments);
}

void setBootClassName(const char* configured) {
  copyCut(bootClassName, sizeof bootClassName,
          configured ? configured : "com.qel.morvan.txnwatch.instr.controller.BootIC");
  for (char* p = bootClassName; *p; p++)
    if (*p == '.') *p = '/';
}

char* modFileName() {
  char* name = new char[1024];
  if (profileName[0])
    std::snprintf(name, 1024, "%s%s%s.%s(%s).%s", homeDir, "/etc/", nodeName, serverName,
                  profileName, "hm.mod");
  else
    std::snprintf(name, 1024, "%s%s%s.%s.%s", homeDir, "/etc/", nodeName, serverName, "hm.mod");
  return name;
}
