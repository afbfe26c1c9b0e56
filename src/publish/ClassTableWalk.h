// The event agents' view of the class table: when a connection to the
// collector is back, the master agent queues a class record for every class
// whose record was queued once already. The class table installs its walker
// here; until one is installed there is nothing to walk.
#pragma once

class ClassEntry;

using ClassVisitor = void (*)(ClassEntry* entry, void* context);
// Calls visit for every entry of the class table, under the table's lock.
using ClassTableWalker = void (*)(ClassVisitor visit, void* context);

void setClassTableWalker(ClassTableWalker walker);
// Walks the installed class table, if any.
void walkClassTable(ClassVisitor visit, void* context);
