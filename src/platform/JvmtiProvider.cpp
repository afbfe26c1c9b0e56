#include "platform/JvmtiProvider.h"

// Stand-in until the JVMTI-backed table lands.
JVMPI_Interface* jvmtiProviderInstall(JavaVM*) {
  return nullptr;
}
JVMPI_Interface* jvmtiProviderTable() {
  return nullptr;
}
