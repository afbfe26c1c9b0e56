#include "base/HalHashTable.h"

namespace halhash {

namespace {
// The first 205 primes, 2 to 1259.
constexpr int kPrimes[] = {
    2,    3,    5,    7,    11,   13,   17,   19,   23,   29,   31,   37,   41,   43,   47,   53,
    59,   61,   67,   71,   73,   79,   83,   89,   97,   101,  103,  107,  109,  113,  127,  131,
    137,  139,  149,  151,  157,  163,  167,  173,  179,  181,  191,  193,  197,  199,  211,  223,
    227,  229,  233,  239,  241,  251,  257,  263,  269,  271,  277,  281,  283,  293,  307,  311,
    313,  317,  331,  337,  347,  349,  353,  359,  367,  373,  379,  383,  389,  397,  401,  409,
    419,  421,  431,  433,  439,  443,  449,  457,  461,  463,  467,  479,  487,  491,  499,  503,
    509,  521,  523,  541,  547,  557,  563,  569,  571,  577,  587,  593,  599,  601,  607,  613,
    617,  619,  631,  641,  643,  647,  653,  659,  661,  673,  677,  683,  691,  701,  709,  719,
    727,  733,  739,  743,  751,  757,  761,  769,  773,  787,  797,  809,  811,  821,  823,  827,
    829,  839,  853,  857,  859,  863,  877,  881,  883,  887,  907,  911,  919,  929,  937,  941,
    947,  953,  967,  971,  977,  983,  991,  997,  1009, 1013, 1019, 1021, 1031, 1033, 1039, 1049,
    1051, 1061, 1063, 1069, 1087, 1091, 1093, 1097, 1103, 1109, 1117, 1123, 1129, 1151, 1153, 1163,
    1171, 1181, 1187, 1193, 1201, 1213, 1217, 1223, 1229, 1231, 1237, 1249, 1259};
static_assert(sizeof(kPrimes) / sizeof(kPrimes[0]) == 205, "the first 205 primes");
}  // namespace

int bucketCountFor(int requested) {
  if (requested >= 1259) return requested;
  for (int p : kPrimes)
    if (p > requested) return p;
  return 1259;
}

uint32_t elfHash(const char* key) {
  uint32_t h = 0;
  for (const signed char* p = reinterpret_cast<const signed char*>(key); *p; p++) {
    // Characters are taken as signed: bytes 0x80..0xFF add negative amounts.
    h = (h << 4) + static_cast<uint32_t>(static_cast<int32_t>(*p));
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h = h ^ (g >> 24) ^ g;
  }
  return h;
}

}  // namespace halhash
