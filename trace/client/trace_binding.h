// The client record: the trace library's entry points, the trace handle and
// the loaded library. Private to the trace client.
#pragma once

#include "q7m/platform_sys.h"
#include "q7m/trace_client.h"

namespace q7m {

struct TraceClient::Binding {
  SCRIBEL_INITIALIZE_FN initialize = nullptr;
  SCRIBEL_GETINTEGER_FN getInteger = nullptr;
  SCRIBEL_GETRECORDLENGTH_FN getRecordLength = nullptr;
  SCRIBEL_LOCK_FN lock = nullptr;
  SCRIBEL_UNLOCK_FN unlock = nullptr;
  SCRIBEL_OUTPUT_FN output = nullptr;
  SCRIBEL_OUTPUTF_FN outputf = nullptr;
  SCRIBEL_VOUTPUTF_FN voutputf = nullptr;
  SCRIBEL_HANDLE handle = nullptr;
  Q7M_HMODULE module = nullptr;
};

}  // namespace q7m
