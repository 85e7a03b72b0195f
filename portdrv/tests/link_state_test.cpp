#include <gtest/gtest.h>

#include "link_state.h"
#include "receive_events.h"
#include "serial_port.h"

namespace q7m::serial {
namespace {

using Action = LinkTransition::Action;
using Send = PollStep::Send;

TEST(LinkState, ANormalExchangeAndTheEndOfTransmissionExchange) {
  LinkTransition t = NextLinkState(kStateAwaitAck, kEventAck);
  EXPECT_EQ(t.next, kStateAcked);
  EXPECT_TRUE(t.signal);
  // The response frame: its start is noted silently, its end copied.
  t = NextLinkState(kStateAwaitResponse, kEventFrameStart);
  EXPECT_EQ(t.next, kStateResponseStarted);
  EXPECT_FALSE(t.signal);
  t = NextLinkState(kStateResponseStarted, kEventFrame);
  EXPECT_EQ(t.next, kStateResponseReady);
  EXPECT_TRUE(t.signal);
  EXPECT_EQ(t.action, Action::kCopyFrame);

  t = NextLinkState(kStateAwaitEotAnswer, kEventEot);
  EXPECT_EQ(t.next, kStateEotAnswered);
  EXPECT_EQ(t.action, Action::kEotResponse);
}

TEST(LinkState, WhatMakesTheSenderSendAgain) {
  for (uint32_t e : {kEventNone, kEventNak, kEventOverflow, kEventBadBcc, kEventSilence,
                     kEventParity, kEventIoError}) {
    LinkTransition t = NextLinkState(kStateAwaitAck, e);
    EXPECT_EQ(t.next, kStateIdle) << e;
    EXPECT_TRUE(t.signal) << e;
  }
  // A stray frame or EOT wakes the sender without acknowledging.
  for (uint32_t e : {kEventFrame, kEventFrameStart, kEventEot}) {
    LinkTransition t = NextLinkState(kStateAwaitAck, e);
    EXPECT_EQ(t.next, kStateAwaitAck) << e;
    EXPECT_TRUE(t.signal) << e;
  }
}

TEST(LinkState, WaitingForTheResponse) {
  // Complete frames without a seen start, and control answers, are ignored.
  for (uint32_t e : {kEventFrame, kEventEot, kEventAck, kEventNak}) {
    LinkTransition t = NextLinkState(kStateAwaitResponse, e);
    EXPECT_EQ(t.next, kStateAwaitResponse) << e;
    EXPECT_FALSE(t.signal) << e;
  }
  for (uint32_t e :
       {kEventNone, kEventOverflow, kEventBadDle, kEventBadBcc, kEventSilence, kEventOverrun}) {
    EXPECT_EQ(NextLinkState(kStateAwaitResponse, e).next, kStateResponseFaulty) << e;
    EXPECT_EQ(NextLinkState(kStateResponseStarted, e).next, kStateResponseFaulty) << e;
  }
  EXPECT_EQ(NextLinkState(kStateResponseStarted, kEventEot).next, kStateResponseFaulty);
}

TEST(LinkState, WaitingForTheEotAnswer) {
  for (uint32_t e : {kEventFrame, kEventAck}) {
    LinkTransition t = NextLinkState(kStateAwaitEotAnswer, e);
    EXPECT_EQ(t.next, kStateAwaitEotAnswer);
    EXPECT_TRUE(t.signal);
  }
  for (uint32_t e : {kEventNone, kEventFrameStart, kEventNak, kEventSilence, kEventFraming})
    EXPECT_EQ(NextLinkState(kStateAwaitEotAnswer, e).next, kStateEotFaulty) << e;
}

TEST(LinkState, QuietStatesIgnoreTheLine) {
  for (uint32_t s : {kStateIdle, kStateAcked, kStateResponseReady, kStateResponseFaulty,
                     kStateEotAnswered, kStateEotFaulty}) {
    for (uint32_t e = 0; e <= kEventIoError; ++e) {
      LinkTransition t = NextLinkState(s, e);
      EXPECT_EQ(t.next, s);
      EXPECT_FALSE(t.signal);
      EXPECT_EQ(t.action, Action::kNone);
    }
  }
}

TEST(LinkPoll, RequestsArePacedByTheirIntervals) {
  LinkTimings t;
  t.enqInterval = 300;
  t.eotInterval = 700;
  PollStep p = PlanPoll(kStateAwaitResponse, 299, t);
  EXPECT_EQ(p.send, Send::kNothing);
  EXPECT_EQ(p.wait, 300u);
  p = PlanPoll(kStateResponseStarted, 300, t);
  EXPECT_EQ(p.send, Send::kEnq);
  EXPECT_EQ(p.next, kStateAwaitResponse);
  p = PlanPoll(kStateAwaitEotAnswer, 699, t);
  EXPECT_EQ(p.send, Send::kNothing);
  EXPECT_EQ(p.wait, 700u);
  EXPECT_EQ(PlanPoll(kStateAwaitEotAnswer, 700, t).send, Send::kEot);
}

TEST(LinkPoll, FaultyAnswersAreAskedForAgainAtOnce) {
  LinkTimings t;
  PollStep p = PlanPoll(kStateResponseFaulty, 0, t);
  EXPECT_EQ(p.send, Send::kEnq);
  EXPECT_EQ(p.next, kStateAwaitResponse);
  EXPECT_TRUE(p.resetStateEvent);
  p = PlanPoll(kStateEotFaulty, 0, t);
  EXPECT_EQ(p.send, Send::kEot);
  EXPECT_EQ(p.next, kStateAwaitEotAnswer);
}

TEST(LinkPoll, FinishedAndForeignStates) {
  LinkTimings t;
  PollStep p = PlanPoll(kStateResponseReady, 99999, t);
  EXPECT_EQ(p.send, Send::kNothing);
  EXPECT_EQ(p.next, kStateResponseReady);
  EXPECT_FALSE(p.resetStateEvent);  // its signal is what the wait is for
  p = PlanPoll(kStateEotAnswered, 0, t);
  EXPECT_EQ(p.next, kStateEotAnswered);
  EXPECT_FALSE(p.resetStateEvent);
  // A Receive with no exchange running: idle, nothing sent, the caller's
  // wait length stands.
  for (uint32_t s : {kStateIdle, kStateAwaitAck, kStateAcked}) {
    p = PlanPoll(s, 99999, t);
    EXPECT_EQ(p.next, kStateIdle);
    EXPECT_FALSE(p.setsWait);
    EXPECT_EQ(p.send, Send::kNothing);
    EXPECT_TRUE(p.resetStateEvent);
  }
}

}  // namespace
}  // namespace q7m::serial

namespace q7m::serial {
namespace {

TEST(LineErrors, TheWorstErrorNamesTheEvent) {
  EXPECT_EQ(LineErrorEvent(0), 0u);
  EXPECT_EQ(LineErrorEvent(kLineBreak), 0u);  // a break alone is not a receive error
  EXPECT_EQ(LineErrorEvent(kLineFrame), kEventFraming);
  EXPECT_EQ(LineErrorEvent(kLineFrame | kLineParity), kEventParity);
  EXPECT_EQ(LineErrorEvent(kLineParity | kLineRxOver), kEventOverrun);
  EXPECT_EQ(LineErrorEvent(kLineOverrun | kLineFrame), kEventOverrun);
  EXPECT_EQ(LineErrorEvent(kLineIoError | kLineOverrun | kLineParity), kEventIoError);
}

}  // namespace
}  // namespace q7m::serial
