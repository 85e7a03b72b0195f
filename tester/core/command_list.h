// The command list: rows of an API name and four parameter texts, with the
// API index as row data and a selection mark. Both the UI thread (editing)
// and the worker (running) use it, so every access takes its lock.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace q7m::rigtool {

struct ListRow {
  std::string name;  // empty: a placeholder, skipped by runs and filled by the next added row
  std::array<std::string, 4> params;
  int apiIndex = -1;
  bool selected = false;

  bool IsPlaceholder() const { return name.empty(); }
};

class CommandList {
 public:
  // "Set" and each loaded line: fills the first placeholder, else appends.
  void AddRow(const std::string& name, int apiIndex, const std::array<std::string, 4>& params);
  // "Insert": an empty row above the first selected one, which is deselected.
  void Insert();
  // "Delete": every selected row.
  void DeleteSelected();
  // "Clear".
  void Clear();

  size_t Size() const;
  std::vector<ListRow> Rows() const;
  std::optional<ListRow> Row(size_t index) const;
  void Select(size_t index, bool selected);
  void DeselectAll();
  // The first selected row at or after `from`.
  std::optional<size_t> NextSelected(size_t from) const;

 private:
  mutable std::mutex mutex_;
  std::vector<ListRow> rows_;
};

}  // namespace q7m::rigtool
