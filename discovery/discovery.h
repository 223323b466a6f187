// LAN discovery: broadcast probes and list every drive that answers.
#pragma once

// Runs one discovery of about five seconds and prints the drives found.
void runDiscovery();
