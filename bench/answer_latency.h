// How fast the simulated instruments answer. A client on loopback sends queries one at a time. The
// answer time of a query runs from the moment it was sent (on loopback it is in the simulator's
// socket at once) until the simulator takes it up and answers it, which the simulator's own log of
// received commands stamps; the client's own wake-up on the answer is left out. The whole round trip
// at the client is measured as well.
#pragma once

struct AnswerLatency {
  int queries = 0;        // answered queries timed
  double p50_ms = 0.0;    // answer time: sent until the simulator answered
  double p99_ms = 0.0;
  double max_ms = 0.0;
  double round_trip_p99_ms = 0.0;  // sent until the whole answer was back at the client
  bool ok = false;        // every query was answered and found in the simulator's log
};

// Times queries alternately to the DMM (READ?, with no measurement time) and the DP832 (*IDN?).
AnswerLatency measure_answer_latency(int queries);
