#include "instrument/ClassRewriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/Log.h"
#include "instrument/ClassWriter.h"

namespace {

constexpr uint16_t ACC_PRIVATE = 0x0002;
constexpr uint16_t ACC_STATIC = 0x0008;
constexpr uint16_t ACC_FINAL = 0x0010;

constexpr char kPrefix[] = "halprobe$";
constexpr char kBootstrapClass[] = "com/halden/bcm/bootstrap/BcmBootstrap";
constexpr char kBootstrapMethod[] = "instrumentClassStatic";
constexpr char kBootstrapDescriptor[] = "(Ljava/lang/ClassLoader;Ljava/lang/String;[BII)[B";
constexpr char kClassFormatError[] = "java/lang/ClassFormatError";

// Bytes the rewrite adds besides the method name and the code: the ten pool
// entries without the name (156), the new method_info with its two attributes
// without the code (36).
constexpr size_t kAddedBytes = 192;
// The Exceptions attribute of the new method: name, length, count, one class.
constexpr size_t kExceptionsAttributeBytes = 10;

template <size_t N>
bool equals(const uint8_t* bytes, uint16_t length, const char (&text)[N]) {
  return length == N - 1 && std::memcmp(bytes, text, N - 1) == 0;
}
bool equals(const uint8_t* bytes, uint16_t length, const std::string& text) {
  return length == text.size() && std::memcmp(bytes, text.data(), length) == 0;
}

// What the pool scan found.
struct PoolScan {
  uint16_t code = 0;
  uint16_t exceptions = 0;
  uint16_t classFormatError = 0;
  std::vector<uint16_t> matches;
  // Of the last matching Methodref.
  uint16_t matchClass = 0, matchName = 0, matchDescriptor = 0;
};

// Scans the pool. False when an entry refers to a missing or wrong entry.
bool scanPool(const ConstantPoolIndex& pool, const MethodSpec& spec, PoolScan* scan) {
  for (uint32_t index = 1; index < pool.count(); index++) {
    const uint8_t* entry = pool.entry(index);
    if (!entry) continue;
    const uint8_t* bytes = nullptr;
    uint16_t length = 0;
    switch (entry[0]) {
      case CP_UTF8:
        pool.utf8(index, &bytes, &length);
        if (!scan->code && equals(bytes, length, "Code")) scan->code = index;
        if (!scan->exceptions && equals(bytes, length, "Exceptions")) scan->exceptions = index;
        break;
      case CP_CLASS:
        if (!pool.className(index, &bytes, &length)) return false;
        if (!scan->classFormatError && equals(bytes, length, kClassFormatError))
          scan->classFormatError = index;
        break;
      case CP_METHODREF: {
        uint16_t classIndex = loadBigEndian16(entry + 1);
        const uint8_t* nat = pool.entry(loadBigEndian16(entry + 3), CP_NAME_AND_TYPE);
        if (!nat || !pool.className(classIndex, &bytes, &length)) return false;
        uint16_t name = loadBigEndian16(nat + 1), descriptor = loadBigEndian16(nat + 3);
        const uint8_t *nameBytes = nullptr, *descriptorBytes = nullptr;
        uint16_t nameLength = 0, descriptorLength = 0;
        if (!pool.utf8(name, &nameBytes, &nameLength) ||
            !pool.utf8(descriptor, &descriptorBytes, &descriptorLength))
          return false;
        if (equals(bytes, length, spec.ownerClass) &&
            equals(nameBytes, nameLength, spec.methodName) &&
            equals(descriptorBytes, descriptorLength, spec.descriptor)) {
          scan->matches.push_back(static_cast<uint16_t>(index));
          scan->matchClass = classIndex;
          scan->matchName = name;
          scan->matchDescriptor = descriptor;
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

// Positions in the class bytes after the pool.
struct ClassLayout {
  uint16_t accessFlags = 0;
  uint16_t thisClass = 0;
  uint16_t methodsCount = 0;
  const uint8_t* methodsCountAt = nullptr;
  const uint8_t* methodsEnd = nullptr;
  bool methodFound = false;
  uint16_t methodAccess = 0;
};

// Walks from access_flags to the end of the class, which must be the end of
// the bytes. False when anything runs past the end or bytes trail.
bool walkClass(const ConstantPoolIndex& pool, const uint8_t* end, const PoolScan& scan,
               ClassLayout* layout) {
  ByteReader in(pool.poolEnd(), end);
  uint16_t interfaces = 0, fields = 0;
  if (!in.u2(&layout->accessFlags) || !in.u2(&layout->thisClass) || !in.skip(2) ||
      !in.u2(&interfaces) || !in.skip(2 * static_cast<size_t>(interfaces)) || !in.u2(&fields))
    return false;
  for (uint16_t i = 0; i < fields; i++) {
    if (!skipMember(in)) return false;
  }
  layout->methodsCountAt = in.position();
  if (!in.u2(&layout->methodsCount)) return false;
  for (uint16_t i = 0; i < layout->methodsCount; i++) {
    uint16_t access = 0, name = 0, descriptor = 0;
    if (!in.u2(&access) || !in.u2(&name) || !in.u2(&descriptor) || !skipAttributes(in))
      return false;
    if (name == scan.matchName && descriptor == scan.matchDescriptor) {
      layout->methodFound = true;
      layout->methodAccess = access;
    }
  }
  layout->methodsEnd = in.position();
  return skipAttributes(in) && in.remaining() == 0;
}

void utf8Entry(ClassWriter& out, const char* text, size_t length) {
  out.u1(CP_UTF8);
  out.u2(static_cast<uint32_t>(length));
  out.bytes(text, length);
}
void refEntry(ClassWriter& out, uint8_t tag, uint32_t first, uint32_t second) {
  out.u1(tag);
  out.u2(first);
  out.u2(second);
}

bool corrupt() {
  logMessage(LOG_ERROR, "Class file corrupt");
  return false;
}

// What each local slot holds when the method starts: the receiver (an
// object of the class) and the parameters, by descriptor text, each at its
// first slot; the second slot of a long or double holds "". The descriptor
// has passed typeLetters.
std::vector<std::string> entrySlots(const MethodSpec& spec, bool isStatic) {
  std::vector<std::string> slots;
  if (!isStatic) slots.push_back("L" + spec.targetClass + ";");
  const std::string& d = spec.descriptor;
  for (size_t at = 1; at < d.size() && d[at] != ')';) {
    size_t start = at;
    while (d[at] == '[') at++;
    if (d[at] == 'L') at = d.find(';', at);
    at++;
    slots.push_back(d.substr(start, at - start));
    if (slots.back() == "J" || slots.back() == "D") slots.emplace_back();
  }
  return slots;
}

// Whether the spec's slots hold what the wrapper hands to
// instrumentClassStatic and writes back: an object for the loader, a String
// name, a byte[] and two ints, all parameters of the method. Slots that do
// not fit would make the wrapper invalid bytecode, which the JVM rejects
// with the whole class, or runs unverified and crashes on. Logs the spec and
// the first slot that does not fit.
bool slotsFit(const MethodSpec& spec, bool isStatic) {
  struct Expected {
    const char* slot;
    const char* type;  // null: any object
    const char* text;
  };
  static const Expected kExpected[MethodSpec::SLOTS] = {
      {"class loader", nullptr, "an object"},
      {"class name", "Ljava/lang/String;", "a String"},
      {"byte array", "[B", "a byte[]"},
      {"offset", "I", "an int"},
      {"length", "I", "an int"}};
  std::vector<std::string> held = entrySlots(spec, isStatic);
  for (int i = 0; i < MethodSpec::SLOTS; i++) {
    uint16_t slot = spec.slots[i];
    const std::string type = slot < held.size() ? held[slot] : std::string();
    bool fits = kExpected[i].type ? type == kExpected[i].type : type.size() > 1 && type[0] == 'L';
    if (fits) continue;
    char text[1200];
    formatText(text, sizeof text,
               "Method spec %s:%s:%s:%s:%u:%u:%u:%u:%u does not fit the method: its %s slot %u "
               "is not %s parameter; class left unchanged",
               spec.targetClass.c_str(), spec.ownerClass.c_str(), spec.methodName.c_str(),
               spec.descriptor.c_str(), spec.slots[0], spec.slots[1], spec.slots[2],
               spec.slots[3], spec.slots[4], kExpected[i].slot, slot, kExpected[i].text);
    logMessage(LOG_ERROR, text);
    return false;
  }
  return true;
}

}  // namespace

bool generateWrapper(const MethodSpec& spec, const std::string& parameterLetters, bool isStatic,
                     uint8_t invokeOpcode, uint16_t bootstrapRef, uint16_t wrappedRef,
                     WrapperCode* out) {
  uint32_t firstFree = isStatic ? 0 : 1;
  for (char letter : parameterLetters) firstFree += slotSize(letter);
  if (firstFree >= 0xFFFF) return false;
  std::vector<uint8_t> code(4 * (parameterLetters.size() + 1) + 65);
  ClassWriter w(code.data(), code.size());
  const uint16_t* slot = spec.slots;
  w.load('A', slot[MethodSpec::LOADER]);
  w.load('A', slot[MethodSpec::NAME]);
  w.load('A', slot[MethodSpec::BYTES]);
  w.load('I', slot[MethodSpec::OFFSET]);
  w.load('I', slot[MethodSpec::LENGTH]);
  w.invoke(OP_INVOKESTATIC, bootstrapRef);
  w.store('A', firstFree);
  w.load('A', firstFree);
  size_t branch = w.written();
  w.u1(OP_IFNULL);
  w.u2(0);  // patched below
  w.load('A', firstFree);
  w.store('A', slot[MethodSpec::BYTES]);
  w.u1(OP_ICONST_0);
  w.store('I', slot[MethodSpec::OFFSET]);
  w.load('A', slot[MethodSpec::BYTES]);
  w.u1(OP_ARRAYLENGTH);
  w.store('I', slot[MethodSpec::LENGTH]);
  w.patchU2(branch + 1, static_cast<uint32_t>(w.written() - branch));
  if (!isStatic) w.load('A', 0);
  uint32_t at = isStatic ? 0 : 1;
  for (char letter : parameterLetters) {
    if (!w.load(letter, at)) return false;
    at += slotSize(letter);
  }
  w.invoke(invokeOpcode, wrappedRef);
  w.u1(OP_ARETURN);
  if (w.overflowed()) return false;
  code.resize(w.written());
  // The call to instrumentClassStatic needs five stack slots whatever the
  // method's own parameters.
  out->maxStack = static_cast<uint16_t>(std::max<uint32_t>(firstFree, 5));
  out->maxLocals = static_cast<uint16_t>(firstFree + 1);
  out->code.swap(code);
  out->exceptionTableLength = 0;
  return true;
}

namespace {

// The ten constant-pool entries the rewrite appends after the class's own N:
// the wrapped method's new name and its name-and-type, the bootstrap class,
// method and descriptor, and the references that tie them together.
void writeAddedPoolEntries(ClassWriter& w, const PoolScan& scan, const MethodSpec& spec,
                           uint32_t n) {
  std::string name = kPrefix + spec.methodName;
  utf8Entry(w, name.data(), name.size());                               // N
  refEntry(w, CP_NAME_AND_TYPE, n, scan.matchDescriptor);               // N+1
  utf8Entry(w, kBootstrapClass, sizeof kBootstrapClass - 1);            // N+2
  utf8Entry(w, kBootstrapMethod, sizeof kBootstrapMethod - 1);          // N+3
  utf8Entry(w, kBootstrapDescriptor, sizeof kBootstrapDescriptor - 1);  // N+4
  w.u1(CP_CLASS);                                                       // N+5
  w.u2(n + 2);
  refEntry(w, CP_NAME_AND_TYPE, n + 3, n + 4);                          // N+6
  refEntry(w, CP_NAME_AND_TYPE, scan.matchName, scan.matchDescriptor);  // N+7
  refEntry(w, CP_METHODREF, n + 5, n + 6);                              // N+8
  refEntry(w, CP_METHODREF, scan.matchClass, n + 7);                    // N+9
}

// The added method: private (and static like the original), named by entry
// N, with its Exceptions attribute when the class has the entries for it, and
// the wrapper's code.
void writeWrapperMethod(ClassWriter& w, const PoolScan& scan, uint32_t n, bool isStatic,
                        bool withExceptions, const WrapperCode& wrapper) {
  size_t codeLength = wrapper.code.size();
  w.u2(isStatic ? ACC_PRIVATE | ACC_STATIC : ACC_PRIVATE);
  w.u2(n);
  w.u2(scan.matchDescriptor);
  w.u2(withExceptions ? 2 : 1);
  if (withExceptions) {
    w.u2(scan.exceptions);
    w.u4(4);
    w.u2(1);
    w.u2(scan.classFormatError);
  }
  w.u2(scan.code);
  w.u4(static_cast<uint32_t>(12 + codeLength + 8 * wrapper.exceptionTableLength));
  w.u2(wrapper.maxStack);
  w.u2(wrapper.maxLocals);
  w.u4(static_cast<uint32_t>(codeLength));
  w.bytes(wrapper.code.data(), codeLength);
  w.u2(wrapper.exceptionTableLength);
  w.u2(0);  // attributes of the Code attribute
}

}  // namespace

bool rewriteClass(const uint8_t* classBytes, size_t length, const ConstantPoolIndex& pool,
                  const MethodSpec& spec, std::vector<uint8_t>* out) {
  PoolScan scan;
  ClassLayout layout;
  const uint8_t* end = classBytes + length;
  if (pool.count() == 0 || !pool.poolEnd() || pool.poolEnd() > end) return false;
  try {
    if (!scanPool(pool, spec, &scan) || !walkClass(pool, end, scan, &layout)) return corrupt();
    if (!scan.code || scan.matches.empty()) return false;
    // A referenced method the class does not declare: its access is unknown,
    // so how to call it is too.
    if (!layout.methodFound) return false;
    std::string letters;
    if (!typeLetters(spec.descriptor.data(), spec.descriptor.size(), &letters) ||
        letters.back() != 'A') {
      logMessage(LOG_ERROR, "Instrumented method must return an object");
      return false;
    }
    letters.pop_back();

    uint32_t n = pool.count();
    size_t nameLength = spec.methodName.size();
    if (n + 10 > 0xFFFF || layout.methodsCount == 0xFFFF ||
        nameLength + sizeof kPrefix - 1 > 0xFFFF || !pool.entry(layout.thisClass, CP_CLASS))
      return false;

    bool isStatic = layout.methodAccess & ACC_STATIC;
    if (!slotsFit(spec, isStatic)) return false;
    uint8_t invoke = OP_INVOKEVIRTUAL;
    if (isStatic) {
      invoke = OP_INVOKESTATIC;
    } else if ((layout.methodAccess & (ACC_PRIVATE | ACC_FINAL)) ||
               (layout.accessFlags & ACC_FINAL)) {
      invoke = OP_INVOKESPECIAL;
    }
    WrapperCode wrapper;
    if (!generateWrapper(spec, letters, isStatic, invoke, static_cast<uint16_t>(n + 8),
                         static_cast<uint16_t>(n + 9), &wrapper))
      return false;

    // The Exceptions attribute names ClassFormatError; a class lacking either
    // entry gets the method without it.
    bool withExceptions = scan.exceptions && scan.classFormatError;
    size_t codeLength = wrapper.code.size();
    size_t size = length + codeLength + 8 * static_cast<size_t>(wrapper.exceptionTableLength) +
                  nameLength + kAddedBytes - (withExceptions ? 0 : kExceptionsAttributeBytes);
    std::vector<uint8_t> bytes(size);
    ClassWriter w(bytes.data(), size);

    w.bytes(classBytes, 8);
    w.u2(n + 10);
    w.bytes(classBytes + 10, static_cast<size_t>(pool.poolEnd() - classBytes) - 10);
    for (uint16_t index : scan.matches) {
      size_t at = static_cast<size_t>(pool.entry(index) - classBytes);
      w.patchU2(at + 1, layout.thisClass);
      w.patchU2(at + 3, n + 1);
    }
    writeAddedPoolEntries(w, scan, spec, n);

    w.bytes(pool.poolEnd(), static_cast<size_t>(layout.methodsCountAt - pool.poolEnd()));
    w.u2(layout.methodsCount + 1u);
    w.bytes(layout.methodsCountAt + 2,
            static_cast<size_t>(layout.methodsEnd - layout.methodsCountAt) - 2);

    writeWrapperMethod(w, scan, n, isStatic, withExceptions, wrapper);

    w.bytes(layout.methodsEnd, static_cast<size_t>(end - layout.methodsEnd));
    if (w.overflowed() || w.written() != size) {
      logMessage(LOG_ERROR, "Rewritten class does not have its computed size");
      return false;
    }
    out->swap(bytes);
    return true;
  } catch (const std::bad_alloc&) {
    logMessage(LOG_ERROR, "malloc failed");
    return false;
  }
}
