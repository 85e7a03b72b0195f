// The formatter behind SCRIBEL_Outputf and SCRIBEL_vOutputf: printf-style
// directives for integers, characters and strings (the wvsprintf family's
// rules, no floating point), with a hard bound on what it produces.
//
// It has to be safe with any format a caller hands in: the output never
// exceeds the limit, %n never writes, a null %s prints "(null)", string
// precision bounds how far a string is read, unknown directives are copied
// as text without consuming an argument, and floating-point directives
// consume their argument (so later ones stay aligned) but print as written.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace q7m::trace {

// Longest text one formatted trace line produces.
constexpr size_t kMaxFormattedLength = 1024;

// Formats into `out` (capacity bytes, at least 1) and zero-terminates. At
// most min(capacity - 1, kMaxFormattedLength) characters are produced; the
// rest is dropped. Returns the number of characters produced. A null format
// produces nothing. `args` is not consumed (the function works on a copy).
size_t FormatTraceText(char* out, size_t capacity, const char* format, va_list args);

}  // namespace q7m::trace
