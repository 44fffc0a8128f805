// How fast the simulated instruments answer: a client on loopback sends queries one at a time and
// times each from the moment it is sent until its whole answer has arrived. That includes both
// processes' wake-ups, so it bounds from above the time the simulator takes from receiving a query
// to answering it.
#pragma once

struct AnswerLatency {
  int queries = 0;        // answered queries timed
  double p50_ms = 0.0;
  double p99_ms = 0.0;
  double max_ms = 0.0;
  bool ok = false;        // every query was answered
};

// Times queries alternately to the DMM (READ?, with no measurement time) and the DP832 (*IDN?).
AnswerLatency measure_answer_latency(int queries);
