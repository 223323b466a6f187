// The fixed console texts of the front end.
#pragma once

// The banner that opens every run: a rule, the family line, the loader line
// and the rule again, each 63 characters wide.
void printBanner();

// The usage text, showing the drive address that driveIp holds now.
void printUsage();

// The manual shown on -m.
void printManual();
