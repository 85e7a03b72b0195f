// Named settings of a reader and its link, read and written as text. One
// table serves the scenario file, `--set` on the command line and the
// control commands `get`, `set` and `status`, so every setting has exactly one
// parser and one formatter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace q7msim {

class FieldTable {
 public:
  using Getter = std::function<std::string()>;
  // Returns an empty text on success, else why the value was refused.
  using Setter = std::function<std::string(std::string_view)>;

  struct Field {
    std::string name;
    std::string help;
    Getter get;
    Setter set;  // empty for read-only fields
  };

  void Add(std::string name, std::string help, Getter get, Setter set = nullptr);
  // An on/off field kept in *target.
  void AddSwitch(std::string name, std::string help, bool* target);
  // A number from min to max kept in *target; `refusal` says what is allowed.
  void AddNumber(std::string name, std::string help, uint32_t min, uint32_t max,
                 std::string refusal, uint32_t* target);

  // Case-insensitive lookup; null when unknown.
  const Field* Find(std::string_view name) const;

  // Empty text on success.
  std::string Set(std::string_view name, std::string_view value) const;
  bool Get(std::string_view name, std::string* value) const;

  const std::vector<Field>& fields() const { return fields_; }

 private:
  std::vector<Field> fields_;
};

}  // namespace q7msim
