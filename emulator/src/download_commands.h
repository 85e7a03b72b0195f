// The download family's state as read-only reader fields.
#pragma once

#include "field_table.h"
#include "reader_state.h"

namespace q7msim {

void AddDownloadFields(ReaderState* state, FieldTable* fields);

}  // namespace q7msim
