// The running process's id, as the system shows it.
#pragma once

#include <cstdint>

std::uint32_t processId();
