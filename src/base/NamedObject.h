// The base of every manager, table and list: it carries the object's class
// name and logs "[name (unit@line)] text" lines through logMessage.
#pragma once

class NamedObject {
 public:
  explicit NamedObject(const char* name = nullptr);
  virtual ~NamedObject();
  NamedObject(const NamedObject&) = delete;
  NamedObject& operator=(const NamedObject&) = delete;

  const char* name() const { return name_; }

  void logDebug(const char* unit, int line, const char* text) const;
  void logInfo(const char* unit, int line, const char* text) const;
  void logWarning(const char* unit, int line, const char* text) const;
  void logError(const char* unit, int line, const char* text) const;

  // The same with printf formatting; the text is cut to fit its buffer.
  void logf(int level, const char* unit, int line, const char* fmt, ...) const
      __attribute__((format(printf, 5, 6)));

 private:
  void log(int level, const char* unit, int line, const char* text) const;
  char* name_;
};
