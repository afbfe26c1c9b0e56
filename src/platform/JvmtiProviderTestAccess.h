// What tests reach of the JVMTI provider. Included by tests only (and by
// JvmtiProvider.cpp, which defines it).
#pragma once

// Forgets the table and the JVMTI environment, so that a test can install
// again. Only safe while no event can arrive and no table entry is in use.
void jvmtiProviderReset();
