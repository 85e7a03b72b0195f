// The machine-wide object-name rule and the named-object base class.
#pragma once

#include <cstddef>
#include <string>

namespace q7m {

// Longest composed object name, in characters.
constexpr size_t kMaxObjectName = 260;
// The namespace prefix every composed name starts with.
constexpr const char kObjectNamePrefix[] = "Global\\";

// Composes the system-wide name for base text `base` and suffix `suffix`:
// prefix + base (cut from the front so the whole name is at most 260
// characters, backslashes in it turned into tabs) + suffix. A null base or
// suffix counts as empty.
std::string ComposeObjectName(const char* base, const char* suffix);

// Base of every class that creates a named object. The composed name is held
// only while an object is being created; composing and freeing it never
// changes the thread's last-error value.
class clsNamedObject {
 public:
  clsNamedObject() = default;
  virtual ~clsNamedObject() = default;
  clsNamedObject(const clsNamedObject&) = delete;
  clsNamedObject& operator=(const clsNamedObject&) = delete;

 protected:
  // Composes and holds the name; returns it (valid until FreeName).
  const char* MakeName(const char* base, const char* suffix);
  void FreeName();

 private:
  std::string name_;
};

}  // namespace q7m
