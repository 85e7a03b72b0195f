// The settings of the reader state as named fields (Model, SerialNumber,
// FirmwareVersion, Counter1, CardStatus, ...).
#pragma once

#include "field_table.h"
#include "reader_state.h"

namespace q7msim {

// Adds the fields of `state` to `table`; `state` must outlive the table.
void AddReaderStateFields(ReaderState* state, FieldTable* table);
// The magnetic side of the card slot (card_slot_fields.cpp).
void AddCardSlotFields(ReaderState* state, FieldTable* table);

// The chip side's and the contactless field's fields (chip_fields.cpp).
void AddChipFields(ReaderState* state, FieldTable* table);
void AddContactlessFields(ReaderState* state, FieldTable* table);

}  // namespace q7msim
