// The serial link's state machine as pure logic: what a receive event does
// in each link state, and what the response wait's pacing step (the poll)
// does next. The owner applies the results under its port lock.
#pragma once

#include <cstdint>

namespace q7m::serial {

enum LinkState : uint32_t {
  kStateIdle = 0,
  kStateAwaitAck = 1,         // command frame sent, waiting for DLE ACK
  kStateAcked = 2,            // command frame acknowledged
  kStateAwaitResponse = 3,    // DLE ENQ sent, waiting for the response frame
  kStateResponseStarted = 4,  // DLE STX of the response seen
  kStateResponseReady = 5,    // response complete and copied
  kStateResponseFaulty = 6,
  kStateAwaitEotAnswer = 7,  // DLE EOT sent, waiting for the answer
  kStateEotAnswered = 8,     // the response buffer holds "E"
  kStateEotFaulty = 9,
};

struct LinkTransition {
  enum class Action : uint8_t {
    kNone,
    kCopyFrame,    // the frame's data becomes the response
    kEotResponse,  // the response becomes the one byte "E"
  };
  uint32_t next;
  bool signal;  // record the event and set the state event
  Action action;
};

// The effect of receive event `event` (kEventNone to kEventIoError) in link
// state `state`.
LinkTransition NextLinkState(uint32_t state, uint32_t event);

// The time settings of a port, in milliseconds.
struct LinkTimings {
  uint32_t receiveAckTimeout = 5000;
  uint32_t enqInterval = 5000;
  uint32_t eotInterval = 5000;
  uint32_t charInterval = 1000;
};

struct PollStep {
  enum class Send : uint8_t { kNothing, kEnq, kEot };
  uint32_t next;  // the link state afterwards
  bool setsWait;  // false: the caller's wait length stays as it was
  uint32_t wait;  // the next wait length when setsWait
  Send send;      // a request to write now
  // The state event is cleared: before a request is written (its answer
  // will set it again), and while the state waits on something still to
  // come, so an earlier signal cannot turn the wait into a spin.
  bool resetStateEvent;
};

// The pacing step of the response wait in link state `state`, when
// `sinceLastSend` ms have passed since the last DLE ENQ or DLE EOT.
PollStep PlanPoll(uint32_t state, uint32_t sinceLastSend, const LinkTimings& timings);

}  // namespace q7m::serial
