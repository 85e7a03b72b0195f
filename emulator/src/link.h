// A reader's connection to the host: the serial line on a pseudo-terminal or
// a device on the virtual HID bus. A link moves bytes and applies the
// link-level faults; what a command means is the reader's business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fault_plan.h"
#include "field_table.h"

namespace q7msim {

class Link {
 public:
  virtual ~Link() = default;

  virtual LinkKind kind() const = 0;
  // Opens the link; false with a reason.
  virtual bool Start(std::string* error) = 0;
  virtual void Stop() = 0;
  // Where a host finds it: the pseudo-terminal's slave path or the bus
  // socket's path.
  virtual std::string Address() const = 0;
  // The link's own settings (line speed, USB identity, ...).
  virtual void AddFields(FieldTable* table) = 0;
  // "name=value" lines: state and counters of the link.
  virtual std::string Describe() const = 0;
  // Immediate actions: DSR off/on, unplug, replug. Empty text on success.
  virtual std::string Act(const FaultRequest& request) = 0;
  // The answer the reader held back (card status monitoring) is ready:
  // send it as the answer to the command still waiting for one.
  virtual void DeliverHeld(const uint8_t* message, size_t size) = 0;
};

}  // namespace q7msim
