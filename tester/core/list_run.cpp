#include "list_run.h"

#include "result_lines.h"

namespace q7m::rigtool {

void ListRun::StartAll() {
  pass_ = 0;
  current_ = 0;
  errors_ = 0;
  runAll_ = true;
}

void ListRun::StartSelected(size_t firstSelected) {
  errors_ = 0;
  nextMark_ = firstSelected + 1;
  runOnce_ = true;
}

std::optional<ListRow> ListRun::NextRow(CommandList& list, LogBook& log, int loops) {
  if (list.Size() == 0) return std::nullopt;
  if (runAll_) {
    // A list of placeholders only would otherwise be walked loop-count times
    // for nothing.
    bool anyRow = false;
    for (const ListRow& row : list.Rows()) anyRow = anyRow || !row.IsPlaceholder();
    if (!anyRow) return std::nullopt;
    while (pass_ < loops) {
      if (current_ >= list.Size()) {
        ++pass_;
        current_ = 0;
        continue;
      }
      std::optional<ListRow> row = list.Row(current_);
      ++current_;
      if (!row || row->IsPlaceholder()) continue;
      log.Append(RunLine(pass_ + 1, loops));
      return row;
    }
    return std::nullopt;
  }
  if (runOnce_) {
    while (nextMark_ != 0) {
      const size_t index = nextMark_ - 1;
      const std::optional<size_t> next = list.NextSelected(index + 1);
      nextMark_ = next ? *next + 1 : 0;
      std::optional<ListRow> row = list.Row(index);
      list.Select(index, false);
      if (row && !row->IsPlaceholder()) return row;
    }
  }
  return std::nullopt;
}

void ListRun::CountResult(uint32_t result, int errorStop) {
  if (Active() && errorStop > 0 && (result & 0xC0000000u) != 0) ++errors_;
}

bool ListRun::ErrorStopReached(int errorStop) const {
  return errorStop > 0 && errors_ == errorStop;
}

void ListRun::End(CommandList& list) {
  if (!Active()) return;
  runAll_ = false;
  runOnce_ = false;
  pass_ = 0;
  current_ = 0;
  errors_ = 0;
  nextMark_ = 0;
  list.DeselectAll();
}

}  // namespace q7m::rigtool
