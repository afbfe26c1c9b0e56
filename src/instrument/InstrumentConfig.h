// The instrumentation settings and their property file, named by the
// environment variable XRPSKEPA_PROPS and shared with an outside class-load
// instrumentation library.
#pragma once

#include <string>
#include <vector>

#include "instrument/ClassRewriter.h"

struct InstrumentConfig {
  bool instrumentDefineClass = false;
  bool dumpClasses = false;
  std::string dumpPath;  // empty: the current directory
  std::vector<MethodSpec> classLoaderSpecs;
  std::vector<MethodSpec> proxySpecs;

  // The default specs for ClassLoader and Proxy.
  void installDefaults();
  // Applies the property file's text (escapes already decoded). False when a
  // line fails (a spec without exactly nine fields or with a bad slot).
  bool parseProperties(const std::string& text);
};

// Parses "target:owner:method:descriptor:loader:name:bytes:offset:length"
// (dotted class names, decimal slots 0 to 65535). False unless there are
// exactly nine fields and every slot is a number in range.
bool parseMethodSpec(const std::string& text, MethodSpec* spec);

// Decodes backslash-u escapes (four hex digits, either case) into UTF-8, code
// point 0 into a blank; other backslashes stay. False on a non-hex digit.
bool decodeEscapes(const std::string& text, std::string* out);

// The settings the class-load hook uses, filled by instrumentationSetup
// (declared in InstrumentSetup.h).
const InstrumentConfig& instrumentConfig();
