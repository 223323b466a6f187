#include "discovery/discovery.h"

void runDiscovery() {}
