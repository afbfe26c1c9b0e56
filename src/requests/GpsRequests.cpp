#include "requests/GpsRequests.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "events/RequestRecord.h"
#include "requests/GpsCounter.h"
#include "requests/RequestCompletion.h"
#include "threads/ThreadData.h"
#include "threads/ThreadId.h"
#include "threads/ThreadMgr.h"

namespace {

// Gives the thread the token's bytes, most significant first.
bool holdToken(ThreadData* data, uint32_t token) {
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[4]);
  if (!bytes) return false;
  for (int i = 0; i < 4; i++) bytes[i] = static_cast<uint8_t>(token >> (24 - 8 * i));
  data->own().gpsToken = std::move(bytes);
  data->own().gpsTokenLength = 4;
  return true;
}

// A token that travelled between JVMs as the eight hex digits of its 4 bytes
// (the form the Java side puts in its request header). Only that form is
// decoded: the bytes of a token with a byte of 0x80 or above, or a zero byte,
// cannot pass through a Java string as they are, so a receive that took the
// text's bytes would never carry the token that its invoke carried.
bool hexToken(const char* text, uint32_t* token) {
  uint32_t value = 0;
  int digits = 0;
  for (; text[digits] != '\0'; digits++) {
    if (digits == 8) return false;
    char c = text[digits];
    int nibble = c >= '0' && c <= '9'   ? c - '0'
                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                        : -1;
    if (nibble < 0) return false;
    value = value << 4 | static_cast<uint32_t>(nibble);
  }
  if (digits != 8) return false;
  *token = value;
  return true;
}

// The record carries the first 4 bytes of the token the thread holds.
bool heldTokenStep(JNIEnv*, ThreadData* data, RequestRecord* record) {
  auto* correlation = static_cast<CorrelationRequestRecord*>(record);
  size_t length = data->own().gpsToken ? static_cast<size_t>(data->own().gpsTokenLength) : 0;
  correlation->token.assign(data->own().gpsToken.get(), length < 4 ? length : 4);
  return true;
}

// The token step of an invoke start, run by the request completion after the
// time stamps.
bool invokeTokenStep(JNIEnv*, ThreadData* data, RequestRecord* record) {
  auto* correlation = static_cast<CorrelationRequestRecord*>(record);
  if (!data->own().gpsToken) {
    uint32_t token = getNextGpsToken();
    std::fprintf(stderr, "for gps token, got this token %d \n", static_cast<int32_t>(token));
    if (holdToken(data, token)) correlation->tokenCounter = token;
  }
  // A second invoke inside one request carries the token the thread holds.
  return heldTokenStep(nullptr, data, record);
}

CorrelationRequestRecord* makeRecord(int subtype, int32_t depth) {
  CorrelationRequestRecord* record = new (std::nothrow) CorrelationRequestRecord(subtype);
  if (record) record->depth = depth;
  return record;
}

}  // namespace

void startNativeGpsInvokeRequest(JNIEnv* env, ThreadData* data) {
  if (data) data->requestDepth()++;
  CorrelationRequestRecord* record =
      makeRecord(SUBTYPE_BEGIN, data ? data->requestDepth().load() : 0);
  if (!record) return;
  sendRequestRecord(env, data, record, nullptr, nullptr, nullptr, invokeTokenStep);
}

void endNativeGpsInvokeRequest(JNIEnv* env, ThreadData* data) {
  if (data) data->requestDepth()--;
  CorrelationRequestRecord* record = makeRecord(SUBTYPE_END, data ? data->requestDepth() + 1 : 1);
  if (!record) return;
  sendRequestRecord(env, data, record, nullptr, nullptr, nullptr);
}

void startNativeGpsReceiveRequest(JNIEnv* env, ThreadData* data, const char* token) {
  if (data) data->requestDepth()++;
  if (!token) return;
  CorrelationRequestRecord* record = makeRecord(SUBTYPE_RECEIVE_BEGIN, 0);
  if (!record) return;
  uint32_t sent;
  if (hexToken(token, &sent)) {
    // The record carries the thread's 4 bytes; without a record for the
    // thread nothing is queued anyway.
    if (data) holdToken(data, sent);
    sendRequestRecord(env, data, record, nullptr, nullptr, nullptr, heldTokenStep);
    return;
  }
  if (data) {
    size_t length = std::strlen(token);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[length > 0 ? length : 1]);
    if (bytes) {
      std::memcpy(bytes.get(), token, length);
      data->own().gpsToken = std::move(bytes);
      data->own().gpsTokenLength = static_cast<int32_t>(length);
    }
  }
  sendRequestRecord(env, data, record, token, nullptr, nullptr);
}

void completeNativeGpsReceiveRequest(JNIEnv* env, ThreadData* data, const char* text) {
  if (data) data->requestDepth()--;
  CorrelationRequestRecord* record =
      makeRecord(SUBTYPE_RECEIVE_END, data ? data->requestDepth() + 1 : 1);
  if (!record) return;
  sendRequestRecord(env, data, record, text, nullptr, nullptr);
}

bool copyGpsToken(JNIEnv* env, uint8_t out[4]) {
  std::memset(out, 0, 4);
  uint32_t id = lookupThreadId(env);
  ThreadData* data = threadMgr && id ? threadMgr->lookupThreadData(id) : nullptr;
  if (!data || !data->isAlive()) {
    std::fputs("null tmp in get passport visa\n", stdout);
    return false;
  }
  std::fprintf(stderr, "GPS Token in getGpsToken %xNNNN\n",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(data->own().gpsToken.get())));
  if (data->own().gpsToken) {
    size_t length = static_cast<size_t>(data->own().gpsTokenLength);
    std::memcpy(out, data->own().gpsToken.get(), length < 4 ? length : 4);
  }
  return true;
}
