// The execution service as the reply fuzz target sees it: SEQUOR_Execute
// hands out the fuzz input's replies one by one instead of talking to a
// reader, so the families' handlers and the real command exchange run
// unchanged against whatever a reader might answer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7m::rdaxfuzz {

// Starts a run on `data`: replies, each a 16-bit big-endian length and that
// many bytes (a last reply cut short is what is left; an empty one is a
// time-out of that exchange). Also forgets the
// result stored by the previous run.
void FeedReplies(const uint8_t* data, size_t size);

// Whether a handler stored a result of its own (an argument error).
bool ResultStored();

}  // namespace q7m::rdaxfuzz
