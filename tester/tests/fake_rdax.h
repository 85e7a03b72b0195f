// A stand-in for the API library: every RDAX_* function the call table uses
// records its name and arguments (pointers and numbers as words) and
// answers `fakerdax::answer`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fakerdax {

struct Call {
  std::string name;
  std::vector<uintptr_t> args;
};

extern Call last;
extern uint32_t answer;

}  // namespace fakerdax
