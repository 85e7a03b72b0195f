// The HID device listing behind PDLNK_FindFirst / FindNext / FindClose
// (record sizes are checked by the exports).
#pragma once

#include <cstdint>

#include "q7m/pdlnk.h"

namespace q7m {

uint32_t HidFindFirst(PDLNK_FIND_INFO* info, const void* module);
// kPdInvalidHandle when the record holds no search.
uint32_t HidFindNext(PDLNK_FIND_INFO* info);
void HidFindClose(PDLNK_FIND_INFO* info);

}  // namespace q7m
