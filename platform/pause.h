// Pauses measured in milliseconds.
#pragma once

// Sleeps for at least ms milliseconds; the thread does not spin.
void pauseMs(int ms);
