// A stand-in for the API library: every RDAX_* function RigTool uses records
// its name and arguments (pointers and numbers as words) and answers
// `fakerdax::answers[name]`, else `fakerdax::answer`. With `complete` set,
// a call that got a completion event signals it, as the library does when
// an asynchronous operation ends.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fakerdax {

struct Call {
  std::string name;
  std::vector<uintptr_t> args;
};

extern Call last;
extern std::vector<Call> calls;
extern uint32_t answer;
extern std::map<std::string, uint32_t> answers;
extern bool complete;
// What RDAX_OpenDevice returns; null sets `openError` as the last error.
extern const void* openHandle;
extern uint32_t openError;
// The last open's name and settings words.
extern std::string openName;
extern std::vector<uintptr_t> openSettings;

void Reset();

}  // namespace fakerdax
