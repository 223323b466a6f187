#include <windows.h>

#include "platform/process_id.h"

std::uint32_t processId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }
