#include "field_table.h"

#include "text_util.h"

namespace q7msim {

void FieldTable::Add(std::string name, std::string help, Getter get, Setter set) {
  fields_.push_back(Field{std::move(name), std::move(help), std::move(get), std::move(set)});
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
