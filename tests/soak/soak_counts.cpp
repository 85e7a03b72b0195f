#include "soak_counts.h"

#include <sstream>

namespace soak {

std::string Format(int thread, const Counts& c) {
  std::ostringstream out;
  out << thread << ' ' << c.sent << ' ' << c.answered << ' ' << c.wrongCaller << ' ' << c.stale
      << ' ' << c.lost << ' ' << c.busy << ' ' << c.openError << ' ' << c.lastFailure << ' '
      << (c.lastWrong.empty() ? "-" : c.lastWrong);
  return out.str();
}

bool Parse(const std::string& line, int* thread, Counts* c) {
  std::istringstream in(line);
  in >> *thread >> c->sent >> c->answered >> c->wrongCaller >> c->stale >> c->lost >> c->busy >>
      c->openError >> c->lastFailure >> c->lastWrong;
  return !in.fail();
}

}  // namespace soak
