#include "link_state.h"

#include "receive_events.h"

namespace q7m::serial {

namespace {
using Action = LinkTransition::Action;

constexpr LinkTransition Stay(uint32_t state) {
  return {state, false, Action::kNone};
}
constexpr LinkTransition Signal(uint32_t next, Action action = Action::kNone) {
  return {next, true, action};
}
}  // namespace

LinkTransition NextLinkState(uint32_t state, uint32_t event) {
  switch (state) {
    case kStateAwaitAck:
      if (event == kEventAck) return Signal(kStateAcked);
      if (event == kEventFrame || event == kEventFrameStart || event == kEventEot)
        return Signal(kStateAwaitAck);
      // Nothing, a NAK, garbage or a line error: the sender sends again.
      return Signal(kStateIdle);

    case kStateAwaitResponse:
      if (event == kEventFrameStart) return Stay(kStateResponseStarted);
      if (event == kEventFrame || event == kEventEot || event == kEventAck || event == kEventNak)
        return Stay(kStateAwaitResponse);
      return Signal(kStateResponseFaulty);

    case kStateResponseStarted:
      if (event == kEventFrame) return Signal(kStateResponseReady, Action::kCopyFrame);
      return Signal(kStateResponseFaulty);

    case kStateAwaitEotAnswer:
      if (event == kEventFrame || event == kEventAck) return Signal(kStateAwaitEotAnswer);
      if (event == kEventEot) return Signal(kStateEotAnswered, Action::kEotResponse);
      return Signal(kStateEotFaulty);

    default:
      // Idle, acknowledged, and the finished states ignore the line.
      return Stay(state);
  }
}

PollStep PlanPoll(uint32_t state, uint32_t sinceLastSend, const LinkTimings& t) {
  using Send = PollStep::Send;
  switch (state) {
    case kStateResponseReady:
      return {state, true, t.enqInterval, Send::kNothing, false};
    case kStateEotAnswered:
      return {state, true, t.eotInterval, Send::kNothing, false};
    case kStateAwaitResponse:
    case kStateResponseStarted:
      return {kStateAwaitResponse, true, t.enqInterval,
              sinceLastSend >= t.enqInterval ? Send::kEnq : Send::kNothing, true};
    case kStateResponseFaulty:
      return {kStateAwaitResponse, true, t.enqInterval, Send::kEnq, true};
    case kStateAwaitEotAnswer:
      return {state, true, t.eotInterval,
              sinceLastSend >= t.eotInterval ? Send::kEot : Send::kNothing, true};
    case kStateEotFaulty:
      return {kStateAwaitEotAnswer, true, t.eotInterval, Send::kEot, true};
    default:
      return {kStateIdle, false, 0, Send::kNothing, true};
  }
}

}  // namespace q7m::serial
