#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/Identity.h"
#include "platform/os.h"

#ifdef _WIN32
// The POSIX calls used below, from the Windows C runtime.
static int setenv(const char* name, const char* value, int) {
  return _putenv_s(name, value);
}
static int unsetenv(const char* name) {
  return _putenv_s(name, "");
}
#endif

namespace fs = std::filesystem;

// Named after the process (ctest runs test processes side by side) and a
// count; a name left by an earlier process is passed over.
TempDir::TempDir() {
  static std::atomic<int> made{0};
  std::string prefix = "dc-test-" + std::to_string(os::processId()) + "-";
  for (int attempt = 0; attempt < 1000 && path_.empty(); attempt++) {
    fs::path dir = fs::temp_directory_path() / (prefix + std::to_string(made++));
    std::error_code error;
    if (fs::create_directory(dir, error)) path_ = dir.generic_string();
  }
  if (path_.empty()) ADD_FAILURE() << "no temporary directory could be made";
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string TempDir::at(const std::string& relative) const {
  return path_ + "/" + relative;
}

void TempDir::makeDir(const std::string& relative) const {
  fs::create_directories(at(relative));
}

void TempDir::write(const std::string& relative, const std::string& content) const {
  std::ofstream out(at(relative), std::ios::binary);
  out << content;
  if (!out) ADD_FAILURE() << "cannot write " << at(relative);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

CapturedOutput::CapturedOutput() {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
}

CapturedOutput::~CapturedOutput() {
  finish();
}

void CapturedOutput::finish() {
  if (!capturing_) return;
  capturing_ = false;
  out_ = testing::internal::GetCapturedStdout();
  err_ = testing::internal::GetCapturedStderr();
}

const std::string& CapturedOutput::out() {
  finish();
  return out_;
}

const std::string& CapturedOutput::err() {
  finish();
  return err_;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

struct IdentityScope::Saved {
  std::string home, node, server, profile, ext, boot;
  ScopedEnv envHome{"hm.home", nullptr};
  ScopedEnv envNode{"hm.nodename", nullptr};
  ScopedEnv envServer{"hm.appserver", nullptr};
  ScopedEnv envProfile{"hm.profilename", nullptr};
};

IdentityScope::IdentityScope() : saved_(new Saved) {
  saved_->home = homeDir;
  saved_->node = nodeName;
  saved_->server = serverName;
  saved_->profile = profileName;
  saved_->ext = extDirs;
  saved_->boot = bootClassName;
}

IdentityScope::~IdentityScope() {
  std::snprintf(homeDir, sizeof homeDir, "%s", saved_->home.c_str());
  std::snprintf(nodeName, sizeof nodeName, "%s", saved_->node.c_str());
  std::snprintf(serverName, sizeof serverName, "%s", saved_->server.c_str());
  std::snprintf(profileName, sizeof profileName, "%s", saved_->profile.c_str());
  std::snprintf(extDirs, sizeof extDirs, "%s", saved_->ext.c_str());
  std::snprintf(bootClassName, sizeof bootClassName, "%s", saved_->boot.c_str());
  delete saved_;
}

void IdentityScope::set(const std::string& home, const std::string& node, const std::string& server,
                        const std::string& profile) {
  std::snprintf(homeDir, sizeof homeDir, "%s", home.c_str());
  std::snprintf(nodeName, sizeof nodeName, "%s", node.c_str());
  std::snprintf(serverName, sizeof serverName, "%s", server.c_str());
  std::snprintf(profileName, sizeof profileName, "%s", profile.c_str());
}

int countOf(const std::string& text, const std::string& needle) {
  if (needle.empty()) return 0;
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

std::string currentDirectory() {
  std::error_code ignored;
  return fs::current_path(ignored).string();
}

bool inOrder(const std::string& text, const std::vector<std::string>& needles) {
  size_t at = 0;
  for (const std::string& needle : needles) {
    at = text.find(needle, at);
    if (at == std::string::npos) {
      ADD_FAILURE() << "not found in order: " << needle;
      return false;
    }
    at += needle.size();
  }
  return true;
}
