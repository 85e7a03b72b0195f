// The security family's settings as reader fields (scenario, --set, ctl).
#pragma once

#include "field_table.h"
#include "reader_state.h"

namespace q7msim {

void AddSecurityFields(ReaderState* state, FieldTable* fields);

}  // namespace q7msim
