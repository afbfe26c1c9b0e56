#include "config/BuildTime.h"

const char* buildTime() {
  return __TIME__;
}
const char* buildDate() {
  return __DATE__;
}
