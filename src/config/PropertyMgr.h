// The property manager: loads the property file once at creation and answers
// lookups by key. Lookups take no lock (the table is filled at creation and
// then only read); insertions take the manager's lock.
#pragma once

#include "base/HalHashTable.h"
#include "base/HalLock.h"
#include "base/NamedObject.h"

class PropertyMgr : public NamedObject {
 public:
  // Creates the manager and loads the property file; the load's result is
  // ignored (an empty manager answers every lookup as absent).
  PropertyMgr();
  ~PropertyMgr() override;

  // The singleton, created on first use.
  static PropertyMgr* instance();
  // Destroys the singleton (shutdown order); a later lookup makes a new one.
  static void destroyInstance();
  static PropertyMgr* existing();

  void start();

  const char* getProperty(const char* key);
  int getIntProperty(const char* key, int defaultValue);
  bool putProperty(const char* key, const char* value);

  // Parses one line of a property file and stores its pair, if any.
  void parseLine(const char* line);

  const char* fileInUse() const { return fileName_; }

 private:
  bool loadFile();

  HalHashTable<const char*, char*> table_;
  HalLock lock_;
  char fileName_[256];
};

// Shorthands on the singleton.
const char* getProperty(const char* key);
int getIntProperty(const char* key, int defaultValue);
// True when the property equals "YES" without regard to case.
bool propertyIsYes(const char* key);
