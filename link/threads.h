// The link threads, for the link's own use and its tests.
#pragma once

// Sets up the link: starts the socket library, chooses the host's address,
// opens udpSocket, binds it to LOADER_PORT there and runs rxthread until the
// link is shut down. Set-up failures are printed and end the thread.
void comthread();

// Receives every datagram on udpSocket and dispatches it, until the link is
// shut down.
void rxthread();

// Returns the link to its idle state (udpSocket 0, nothing released, no stop
// asked) so that a new link can start in this process. False, and nothing
// changed, while a comthread of an earlier link is still attached. startLink
// does this itself; tests that put a socket of their own in udpSocket call it
// first.
bool resetLink();
