#include "platform/JvmtiHeapDump.h"

#include <cstdlib>
#include <cstring>

#include "platform/EntryGuard.h"
#include "platform/JvmtiClasses.h"

namespace {

enum : uint8_t { INSTANCE_DUMP = 0x21, OBJECT_ARRAY_DUMP = 0x22, PRIMITIVE_ARRAY_DUMP = 0x23 };

// The basic type of a primitive array's elements from its class signature;
// 0 for anything else.
jint primitiveElementType(const char* signature) {
  if (signature[0] != '[' || signature[1] == '\0' || signature[2] != '\0') return 0;
  switch (signature[1]) {
    case 'Z':
      return 4;
    case 'C':
      return 5;
    case 'F':
      return 6;
    case 'D':
      return 7;
    case 'B':
      return 8;
    case 'S':
      return 9;
    case 'I':
      return 10;
    case 'J':
      return 11;
    default:
      return 0;
  }
}

uint8_t* putU4(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
  return out + 4;
}

// Object ids are stored as they are held, in the machine's order.
uint8_t* putId(uint8_t* out, uint32_t id) {
  std::memcpy(out, &id, 4);
  return out + 4;
}

uint32_t clipU4(jlong value) {
  return value < 0 ? 0 : value > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

// Tags every loaded class with what the dump needs to know of its instances.
bool tagClasses(jvmtiEnv* jvmti, JNIEnv* jni) {
  jint count = 0;
  jclass* classes = nullptr;
  if (jvmti->GetLoadedClasses(&count, &classes) != JVMTI_ERROR_NONE) return false;
  for (jint i = 0; i < count; i++) {
    char* signature = nullptr;
    jlong tag = 0;
    if (jvmti->GetTag(classes[i], &tag) == JVMTI_ERROR_NONE && tag == 0 &&
        jvmti->GetClassSignature(classes[i], &signature, nullptr) == JVMTI_ERROR_NONE) {
      if (signature[0] == '[') {
        jint type = primitiveElementType(signature);
        tag = type ? kPrimitiveArrayTag + type : kObjectArrayTag;
      } else {
        tag = jvmtiClassIdOf(jni, classes[i]);
      }
      if (tag != 0) jvmti->SetTag(classes[i], tag);
      jvmti->Deallocate(reinterpret_cast<unsigned char*>(signature));
    }
    jni->DeleteLocalRef(classes[i]);
  }
  jvmti->Deallocate(reinterpret_cast<unsigned char*>(classes));
  return true;
}

struct SizeWalk {
  size_t bytes = 0;
};

jint JNICALL sizeObject(jlong classTag, jlong size, jlong*, jint length, void* data) {
  return guardedEntry<jint>("sizeObject", [&]() -> jint {
    static_cast<SizeWalk*>(data)->bytes += heapDumpRecordSize(classTag, size, length);
    return JVMTI_VISIT_OBJECTS;
  });
}

struct WriteWalk {
  uint8_t* cursor;
  uint8_t* end;
  uint32_t nextId;
};

jint JNICALL writeObject(jlong classTag, jlong size, jlong*, jint length, void* data) {
  return guardedEntry<jint>("writeObject", [&]() -> jint {
    auto* walk = static_cast<WriteWalk*>(data);
    size_t bytes = heapDumpRecordSize(classTag, size, length);
    if (bytes > static_cast<size_t>(walk->end - walk->cursor)) return JVMTI_VISIT_ABORT;
    writeHeapDumpRecord(walk->cursor, ++walk->nextId, classTag, size, length);
    walk->cursor += bytes;
    return JVMTI_VISIT_OBJECTS;
  });
}

bool isPrimitiveArrayTag(jlong classTag) {
  return classTag >= kPrimitiveArrayTag + 4 && classTag <= kPrimitiveArrayTag + 11;
}

}  // namespace

size_t heapDumpRecordSize(jlong classTag, jlong size, jint length) {
  const size_t count = length > 0 ? static_cast<size_t>(length) : 0;
  if (length >= 0 && classTag == kObjectArrayTag) return 13 + 4 * count;
  if (length >= 0 && isPrimitiveArrayTag(classTag))
    return 10 + static_cast<size_t>(
                    jvmpiBasicTypeSize(static_cast<int>(classTag - kPrimitiveArrayTag))) *
                    count;
  return 13 + clipU4(size);
}

void writeHeapDumpRecord(uint8_t* out, uint32_t objectId, jlong classTag, jlong size, jint length) {
  const uint32_t count = length > 0 ? static_cast<uint32_t>(length) : 0;
  if (length >= 0 && classTag == kObjectArrayTag) {
    *out++ = OBJECT_ARRAY_DUMP;
    out = putU4(putId(out, objectId), count);
    putId(out, 0);  // element class: not known to a heap iteration
  } else if (length >= 0 && isPrimitiveArrayTag(classTag)) {
    *out++ = PRIMITIVE_ARRAY_DUMP;
    out = putU4(putId(out, objectId), count);
    *out = static_cast<uint8_t>(classTag - kPrimitiveArrayTag);
  } else {
    *out++ = INSTANCE_DUMP;
    out = putId(putId(out, objectId), classTag > 0 ? static_cast<uint32_t>(classTag) : 0);
    putU4(out, clipU4(size));
  }
}

jint jvmtiRequestHeapDump(jvmtiEnv* jvmti, JNIEnv* jni, void (*deliver)(JVMPI_Event*)) {
  jvmtiCapabilities held{};
  if (!jvmti || !jni || jvmti->GetCapabilities(&held) != JVMTI_ERROR_NONE ||
      !held.can_tag_objects || !tagClasses(jvmti, jni))
    return JVMPI_NOT_AVAILABLE;
  jvmtiHeapCallbacks callbacks{};
  callbacks.heap_iteration_callback = &sizeObject;
  SizeWalk sized;
  if (jvmti->IterateThroughHeap(0, nullptr, &callbacks, &sized) != JVMTI_ERROR_NONE)
    return JVMPI_NOT_AVAILABLE;
  // Room for what is allocated between the two walks.
  const size_t capacity = sized.bytes + sized.bytes / 16 + 64 * 1024;
  // Zeroed pages straight from the system: the value bytes are never written.
  auto* dump = static_cast<uint8_t*>(std::calloc(capacity, 1));
  if (!dump) return JVMPI_NOT_AVAILABLE;
  WriteWalk walk{dump, dump + capacity, 0};
  callbacks.heap_iteration_callback = &writeObject;
  jint answer = JVMPI_NOT_AVAILABLE;
  if (jvmti->IterateThroughHeap(0, nullptr, &callbacks, &walk) == JVMTI_ERROR_NONE) {
    JVMPI_Event event{};
    event.event_type = JVMPI_EVENT_HEAP_DUMP | JVMPI_REQUESTED_EVENT;
    event.env_id = jni;
    event.u.heap_dump.dump_level = JVMPI_DUMP_LEVEL_2;
    event.u.heap_dump.begin = reinterpret_cast<char*>(dump);
    event.u.heap_dump.end = reinterpret_cast<char*>(walk.cursor);
    deliver(&event);
    answer = JVMPI_SUCCESS;
  }
  std::free(dump);
  return answer;
}
