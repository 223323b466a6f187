#include "cli/entry.h"
#include "platform/console.h"
#include "platform/interrupt.h"

// The one place the process ends. The standard streams are made sure of
// before anything else is opened; the interrupt watch lives as long as the
// process.
int main(int argc, char** argv) {
  consoleOpenStandardStreams();
  InterruptWatch interrupts;
  const int status = runEntry(argc, argv, interrupts);
  if (interrupts.requested()) {
    interrupts.endAsInterrupted();
  }
  endProcess(status);
}
