#include "command_list.h"

#include <algorithm>

namespace q7m::rigtool {

void CommandList::AddRow(const std::string& name, int apiIndex,
                         const std::array<std::string, 4>& params) {
  std::lock_guard lock(mutex_);
  auto row =
      std::find_if(rows_.begin(), rows_.end(), [](const ListRow& r) { return r.IsPlaceholder(); });
  if (row == rows_.end()) row = rows_.insert(rows_.end(), ListRow{});
  row->name = name;
  row->apiIndex = apiIndex;
  row->params = params;
}

void CommandList::Insert() {
  std::lock_guard lock(mutex_);
  auto row = std::find_if(rows_.begin(), rows_.end(), [](const ListRow& r) { return r.selected; });
  if (row == rows_.end()) return;
  row->selected = false;
  rows_.insert(row, ListRow{});
}

void CommandList::DeleteSelected() {
  std::lock_guard lock(mutex_);
  std::erase_if(rows_, [](const ListRow& r) { return r.selected; });
}

void CommandList::Clear() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}

size_t CommandList::Size() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

std::vector<ListRow> CommandList::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::optional<ListRow> CommandList::Row(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= rows_.size()) return std::nullopt;
  return rows_[index];
}

void CommandList::Select(size_t index, bool selected) {
  std::lock_guard lock(mutex_);
  if (index < rows_.size()) rows_[index].selected = selected;
}

void CommandList::DeselectAll() {
  std::lock_guard lock(mutex_);
  for (ListRow& row : rows_) row.selected = false;
}

std::optional<size_t> CommandList::NextSelected(size_t from) const {
  std::lock_guard lock(mutex_);
  for (size_t i = from; i < rows_.size(); ++i) {
    if (rows_[i].selected) return i;
  }
  return std::nullopt;
}

}  // namespace q7m::rigtool
