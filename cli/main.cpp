#include "cli/entry.h"
#include "platform/interrupt.h"
#include "platform/std_streams.h"

// The one place the process ends. The standard streams are made sure of
// before anything else is opened; the interrupt watch lives as long as the
// run, and an interrupted run ends as the interruption would have.
int main(int argc, char** argv) {
  openStandardStreams();
  int status = 0;
  {
    InterruptWatch interrupts;
    status = runEntry(argc, argv, interrupts);
    if (interrupts.requested()) {
      interrupts.endAsInterrupted();
    }
  }
  // Without the watch, Ctrl+C ends the wait for a key that a console
  // window of its own keeps open (Windows).
  endProcess(status);
}
