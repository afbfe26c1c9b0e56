#include "instrument/InstrumentConfig.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "base/Log.h"
#include "instrument/ClassWriter.h"
#include "instrument/InstrumentSetup.h"
#include "platform/os.h"

namespace {

InstrumentConfig settings;

const char* const kDefaultClassLoaderSpecs[] = {
    "java.lang.ClassLoader:java.lang.ClassLoader:defineClass0:(Ljava/lang/String;[BIILjava/"
    "security/ProtectionDomain;[Ljava/security/cert/Certificate;[B)Ljava/lang/Class;:0:1:2:3:4",
    "java.lang.ClassLoader:java.lang.ClassLoader:defineClass0:(Ljava/lang/String;[BIILjava/"
    "security/ProtectionDomain;)Ljava/lang/Class;:0:1:2:3:4",
    "java.lang.ClassLoader:java.lang.ClassLoader:defineClass0:(Ljava/lang/String;[BII)Ljava/"
    "lang/Class;:0:1:2:3:4",
};
const char* const kDefaultProxySpecs[] = {
    "java.lang.reflect.Proxy:java.lang.reflect.Proxy:defineClass0:(Ljava/lang/ClassLoader;Ljava/"
    "lang/String;[BIILjava/lang/Object;[Ljava/lang/Object;Ljava/lang/Object;)Ljava/lang/"
    "Class;:0:1:2:3:4",
    "java.lang.reflect.Proxy:java.lang.reflect.Proxy:defineClass0:(Ljava/lang/ClassLoader;Ljava/"
    "lang/String;[BII)Ljava/lang/Class;:0:1:2:3:4",
};

const char kPrefix[] = "com.qel.morvan.kepa.jvmpi.";

bool blank(char c) {
  return c == ' ' || c == '\t';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendUtf8(std::string* out, unsigned code) {
  if (code == 0) {
    out->push_back(' ');
  } else if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Applies one key and value; false when a spec value fails.
bool applyProperty(InstrumentConfig* config, const std::string& key, const std::string& value) {
  if (key.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return true;
  std::string name = key.substr(sizeof kPrefix - 1);
  if (name == "instrumentDefineClass") {
    config->instrumentDefineClass = value == "true";
  } else if (name == "delegateTo") {
    if (!value.empty() && value[0] == '@') config->instrumentDefineClass = true;
  } else if (name == "dumpClasses") {
    config->dumpClasses = value == "true";
  } else if (name == "dumpPath") {
    config->dumpPath = value;
    if (!value.empty() && value.back() != '/' && value.back() != '\\') config->dumpPath += '/';
  } else if (name == "classLoader" || name == "proxy") {
    MethodSpec spec;
    if (!parseMethodSpec(value, &spec)) {
      char text[300];
      formatText(text, sizeof text, "Bad instrumentation method spec %s", value.c_str());
      logMessage(LOG_ERROR, text);
      return false;
    }
    (name == "proxy" ? config->proxySpecs : config->classLoaderSpecs).push_back(std::move(spec));
  }
  // The outside library's other keys, and any other key: no effect here.
  return true;
}

}  // namespace

void InstrumentConfig::installDefaults() {
  classLoaderSpecs.clear();
  proxySpecs.clear();
  MethodSpec spec;
  for (const char* text : kDefaultClassLoaderSpecs) {
    if (parseMethodSpec(text, &spec)) classLoaderSpecs.push_back(spec);
  }
  for (const char* text : kDefaultProxySpecs) {
    if (parseMethodSpec(text, &spec)) proxySpecs.push_back(spec);
  }
}

bool parseMethodSpec(const std::string& text, MethodSpec* spec) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (fields.size() != 9) return false;
  MethodSpec parsed;
  for (int i = 0; i < MethodSpec::SLOTS; i++) {
    const std::string& field = fields[4 + i];
    if (field.empty() || field.size() > 5) return false;
    unsigned value = 0;
    for (char c : field) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF) return false;
    parsed.slots[i] = static_cast<uint16_t>(value);
  }
  parsed.targetClass = fields[0];
  parsed.ownerClass = fields[1];
  parsed.methodName = fields[2];
  parsed.descriptor = fields[3];
  dotToSlash(&parsed.targetClass[0], parsed.targetClass.size());
  dotToSlash(&parsed.ownerClass[0], parsed.ownerClass.size());
  dotToSlash(&parsed.descriptor[0], parsed.descriptor.size());
  *spec = std::move(parsed);
  return true;
}

bool decodeEscapes(const std::string& text, std::string* out) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    if (text[at] != '\\' || at + 1 >= text.size() || text[at + 1] != 'u') {
      decoded.push_back(text[at++]);
      continue;
    }
    unsigned code = 0;
    for (size_t i = 2; i < 6; i++) {
      int digit = at + i < text.size() ? hexValue(text[at + i]) : -1;
      if (digit < 0) return false;
      code = code << 4 | static_cast<unsigned>(digit);
    }
    appendUtf8(&decoded, code);
    at += 6;
  }
  out->swap(decoded);
  return true;
}

bool InstrumentConfig::parseProperties(const std::string& text) {
  size_t at = 0;
  const size_t size = text.size();
  while (at < size) {
    size_t lineEnd = text.find_first_of("\r\n", at);
    if (lineEnd == std::string::npos) lineEnd = size;
    size_t p = at;
    at = lineEnd + 1;
    while (p < lineEnd && blank(text[p])) p++;
    if (p == lineEnd || text[p] == '#' || text[p] == '!') continue;
    size_t keyStart = p;
    while (p < lineEnd && text[p] != '=' && text[p] != ':' && !blank(text[p])) p++;
    std::string key = text.substr(keyStart, p - keyStart);
    while (p < lineEnd && blank(text[p])) p++;
    if (p < lineEnd && (text[p] == '=' || text[p] == ':')) p++;
    while (p < lineEnd && blank(text[p])) p++;
    size_t valueStart = p;
    while (p < lineEnd && !blank(text[p])) p++;
    if (!applyProperty(this, key, text.substr(valueStart, p - valueStart))) return false;
  }
  return true;
}

const InstrumentConfig& instrumentConfig() {
  return settings;
}

bool instrumentationSetup(const char* propertyFile) {
  try {
    InstrumentConfig config;
    config.installDefaults();
    const char* env = os::getEnv("XRPSKEPA_PROPS");
    const char* path = env && *env ? env : propertyFile;
    std::string text;
    std::FILE* file = path && *path ? std::fopen(path, "rb") : nullptr;
    if (file) {
      char buffer[4096];
      size_t got = 0;
      while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
      bool failed = std::ferror(file);
      std::fclose(file);
      if (failed) text.clear();
    }
    for (char& c : text) {
      if (c == '\0') c = ' ';
    }
    std::string decoded;
    if (decodeEscapes(text, &decoded) && !config.parseProperties(decoded)) return false;
    settings = std::move(config);
    return true;
  } catch (const std::bad_alloc&) {
    logMessage(LOG_ERROR, "malloc failed");
    return false;
  }
}
