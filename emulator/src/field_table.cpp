#include "field_table.h"

#include "text_util.h"

namespace q7msim {

void FieldTable::Add(std::string name, std::string help, Getter get, Setter set) {
  fields_.push_back(Field{std::move(name), std::move(help), std::move(get), std::move(set)});
}

void FieldTable::AddSwitch(std::string name, std::string help, bool* target) {
  Add(
      std::move(name), std::move(help), [target] { return std::string(*target ? "on" : "off"); },
      [target](std::string_view v) {
        if (!ParseSwitch(v, target)) return std::string("on or off");
        return std::string();
      });
}

void FieldTable::AddNumber(std::string name, std::string help, uint32_t min, uint32_t max,
                           std::string refusal, uint32_t* target) {
  Add(
      std::move(name), std::move(help), [target] { return std::to_string(*target); },
      [target, min, max, refusal = std::move(refusal)](std::string_view v) {
        uint64_t n = 0;
        if (!ParseUnsigned(v, max, &n) || n < min) return refusal;
        *target = static_cast<uint32_t>(n);
        return std::string();
      });
}

const FieldTable::Field* FieldTable::Find(std::string_view name) const {
  for (const Field& field : fields_) {
    if (EqualsNoCase(field.name, name)) return &field;
  }
  return nullptr;
}

std::string FieldTable::Set(std::string_view name, std::string_view value) const {
  const Field* field = Find(name);
  if (!field) return "unknown field '" + std::string(name) + "'";
  if (!field->set) return "field '" + field->name + "' is read-only";
  std::string error = field->set(Trim(value));
  if (!error.empty()) return field->name + ": " + error;
  return {};
}

bool FieldTable::Get(std::string_view name, std::string* value) const {
  const Field* field = Find(name);
  if (!field) return false;
  *value = field->get();
  return true;
}

}  // namespace q7msim
