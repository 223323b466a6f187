#include "cli/entry.h"

int main(int argc, char** argv) { runEntry(argc, argv); }
