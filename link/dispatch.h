// The response dispatcher, run on rxthread for every datagram taken in.
#pragma once

#include <cstddef>
#include <cstdint>

// Acts on the first received bytes of datagram (at most MAX_PAYLOAD):
// raises ackReceived for every datagram, then for a successful answer to
// CMD_ENTER_MONITOR prints the identity and, with the digest, runs the
// digest report; a successful answer with an unknown code is reported. Only
// bytes that arrived are read: an answer too short for what it announces is
// acknowledged and otherwise left alone.
void dispatchResponse(const std::uint8_t* datagram, std::size_t received);
