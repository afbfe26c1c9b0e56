// What tests reach of the class and method tables' lifetime. Included by
// tests only (and by Tables.cpp, which defines it).
#pragma once

// Empties and destroys both tables, so that a test can make them again. Only
// safe while no event or native can use them.
void destroyMethodAndClassTables();
