// The process entry: banner, options, and the one thing the run does.
#pragma once

// What the command line asks for, once the options have been read.
enum class EntryAction {
  session,        // every argument read: run the programming session
  bareUsage,      // no argument at all
  usage,          // -h, or an argument that is no option
  manual,         // -m
  discovery,      // -d
  addressError,   // -ip without a valid address
  fileNameError,  // -fp as the last argument
  version,        // --version: the program's name and version, nothing else
};

// Reads the arguments left to right, setting driveIp, firmwarePath, runMode
// and doneFlag as the options say, up to the first option that acts (or the
// end). argv[0] is not examined.
EntryAction readCommandLine(int argc, char** argv);

// The whole process: prints the banner, reads the command line, does what it
// asks and ends the process with exit status 1 on every path but --version,
// which prints "tovrin <version>" alone and ends with status 0.
[[noreturn]] void runEntry(int argc, char** argv);
