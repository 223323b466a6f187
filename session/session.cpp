#include "session/session.h"

const char* firmwarePath = nullptr;

int runSession() { return 0; }
