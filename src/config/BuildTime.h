#pragma once

// The compiler's time and date stamps of the library.
const char* buildTime();
const char* buildDate();
