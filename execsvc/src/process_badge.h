// The process badge: a uniquely named kernel object this process keeps open
// while it has sessions attached to a device. The namespace removes it with
// its process, killed or not, so other processes can tell whether the owner
// of a share of a device's open count, or of an exchange under way, is
// still alive. Unlike a bare process id, the name (id and a creation stamp)
// is never taken for a live process that happens to reuse the id.
#pragma once

#include <cstdint>

namespace q7m {

struct ProcessBadge {
  uint32_t processId = 0;
  uint32_t stamp = 0;  // 30 bits: it shares a 64-bit word with two state bits

  bool operator==(const ProcessBadge&) const = default;
};

constexpr uint32_t kBadgeStampMask = 0x3FFFFFFFu;

// Takes a hold on this process's badge and gives its identity. The named
// object is made by ShowProcessBadge: a caller records the identity first,
// so a process killed in between leaves a record of a missing badge (which
// reads as ended) rather than an object no record names.
ProcessBadge HoldProcessBadge();
// Makes the named object of the held badge if it does not exist yet. False
// with the last error when it cannot be made.
bool ShowProcessBadge();
// Gives a hold back; the last one closes the object.
void DropProcessBadge();

// False only when the badge's object is gone: its process closed its last
// session or ended. Any other failure to look counts as alive.
bool ProcessBadgeAlive(const ProcessBadge& badge);

}  // namespace q7m
