// Stands in for libSEQUOR in the reply fuzz target (linked in place of the
// library, the handlers and exchange.cpp untouched). Each SEQUOR_Execute
// takes the next reply of the fuzz input and delivers it as the execution
// service would: only a frame that echoes the command's code reaches the
// caller (others are late answers and are passed over, as the service waits
// on), a frame longer than the caller's buffer fills the buffer and fails
// with "response too long", and an empty reply or none left is a time-out.
// The settling pauses of the download are skipped.
#include "reply_feed.h"

#include <cstring>

#include "q7m/platform_sys.h"
#include "q7m/sequor.h"

namespace q7m::rdaxfuzz {

namespace {

const uint8_t* next = nullptr;
size_t left = 0;
bool resultStored = false;

// The next reply, or false when none is left.
bool TakeReply(const uint8_t** reply, size_t* length) {
  if (left < 2) return false;
  const size_t declared = (size_t{next[0]} << 8) | next[1];
  next += 2;
  left -= 2;
  *length = declared < left ? declared : left;
  *reply = next;
  next += *length;
  left -= *length;
  return true;
}

// Whether `reply` answers `command`: "P", "N" or "E" and the command's code,
// or the one byte "E" for the end-of-transmission command "E".
bool Answers(const char* command, uint32_t commandLength, const uint8_t* reply, size_t length) {
  if (commandLength == 1 && command[0] == 'E') return length >= 1 && reply[0] == 'E';
  if (commandLength < 3 || length < 3) return false;
  if (reply[0] != 'P' && reply[0] != 'N' && reply[0] != 'E') return false;
  return reply[1] == static_cast<uint8_t>(command[1]) &&
         reply[2] == static_cast<uint8_t>(command[2]);
}

}  // namespace

void FeedReplies(const uint8_t* data, size_t size) {
  next = data;
  left = size;
  resultStored = false;
}

bool ResultStored() {
  return resultStored;
}

}  // namespace q7m::rdaxfuzz

using namespace q7m::rdaxfuzz;

extern "C" {

Q7M_EXPORT uint32_t Q7M_API SEQUOR_Execute(SEQUOR_HANDLE, const char* command,
                                           uint32_t commandLength, uint32_t, char* response,
                                           uint32_t responseCapacity, uint32_t* responseLength,
                                           uint32_t, Q7M_HANDLE) {
  if (command == nullptr || commandLength == 0 || responseLength == nullptr ||
      (response == nullptr && responseCapacity > 0))
    return SEQUOR_INVALID_PARAMETER;
  *responseLength = 0;
  // The service may use the whole buffer it was offered: touching its last
  // byte makes a buffer smaller than its stated capacity show at once.
  if (responseCapacity > 0) response[responseCapacity - 1] = 0;
  const uint8_t* reply = nullptr;
  size_t length = 0;
  for (;;) {
    // An empty reply stands for a reader that did not answer in time.
    if (!TakeReply(&reply, &length) || length == 0) return SEQUOR_PORT_TIMEOUT;
    if (Answers(command, commandLength, reply, length)) break;
  }
  const size_t copied = length < responseCapacity ? length : responseCapacity;
  if (copied > 0) std::memcpy(response, reply, copied);
  *responseLength = static_cast<uint32_t>(copied);
  return length > responseCapacity ? SEQUOR_RESPONSE_TOO_LONG : SEQUOR_SUCCESS;
}

Q7M_EXPORT uint32_t Q7M_API SEQUOR_SetResult(SEQUOR_HANDLE, uint32_t) {
  resultStored = true;
  return SEQUOR_SUCCESS;
}

Q7M_EXPORT void Q7M_API Q7M_Sleep(uint32_t) {}

}  // extern "C"
