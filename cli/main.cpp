#include "cli/entry.h"
#include "platform/console.h"

// The one place the process ends.
int main(int argc, char** argv) { endProcess(runEntry(argc, argv)); }
