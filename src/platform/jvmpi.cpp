#include "platform/jvmpi.h"

JVMPI_Interface* jvmpi = nullptr;
