// The fault modes that act on the sockets rather than on what a session says: never-accept
// keeps the first listeners' accept queues full, slow-trickle cuts the output into pieces.
#pragma once

#include <netinet/in.h>

#include <cstddef>

#include "sim/faults.h"
#include "sim/listeners.h"

namespace kelo::sim {

// The pause between two pieces of slow-trickle.
constexpr int kTricklePauseMs = 1;

// With never-accept, the listeners that clients connect to first are never served.
bool NeverAccepts(const PortPlan& plan, const Faults& faults);

// never-accept: one connection of our own waits in the listener's accept queue, which is
// then full, so the kernel drops every further SYN and a client's connect gets no answer.
// Returns 0, keeping that connection in listener.filler, or the errno of what failed.
int FillAcceptQueue(Listener& listener, const sockaddr_in& address);

// slow-trickle: the size of the step-th piece (counted from 0), varied so that a reader
// meets every split of a frame.
size_t TricklePiece(size_t step);

}  // namespace kelo::sim
