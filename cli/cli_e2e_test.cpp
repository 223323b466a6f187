// The loader as a user runs it: every console text byte for byte, written out
// here independently of the code that prints it, and exit status 1 on every
// run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/expected.h"
#include "testkit/process.h"
#include "tovrin_version.h"

namespace {

std::string usage(const std::string& ip) {
  return "COMMAND : Tovrin.exe [-h] | [-m] | [-d] | [-ip] (([-fp] | [-v]) | [-u]) \n"
         "Tovrin Info Options  -\r\n"
         "  -h : Help Menu\n"
         "  -m : Manual\n"
         "  -d : Discover IP address of the drive's on the LAN\n"
         "Programming Options -\n"
         "  -ip : IP address of the drive     [OPTIONAL : Default ip = " +
         ip +
         " ]\n"
         "  -fp : Firmware path               [MANDATORY]\n"
         "  -v : Only verify firmware         [OPTIONAL]\n"
         "  -u : Display Unit Identity        [OPTIONAL]\n"
         "More Info Options -\n"
         "  --help : Help Menu\n"
         "  --version : Version of the loader\n"
         "Several Drives Options -\n"
         "  -ip : Addresses a,b,... of drives [OPTIONAL : At most 100 drives ]\n"
         "  -a : Every drive found on the LAN [OPTIONAL]\n"
         "  -c N : First N drives as canaries [OPTIONAL : N = 1 to 100 ]\n"
         "  -s : Skip drives already current  [OPTIONAL]\n"
         "  -e : Exit status tells the result [OPTIONAL : 0 done, 1 failed, 2 refused ]\n"
         "  -r : Run record file (JSON lines) [OPTIONAL]\n";
}

const std::string MANUAL = R"(
Tovrin Manual -
  -->  README:
  * All command option has to be lowercase
  * All command option must be followed by dash i.e. -ip
  * <space> are important!!!

  -->  PROGRAM FIRMWARE:
  * To program firmware use one of the following command :
  [1] Specify ip addr and complete file path
      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\xxx\\FileName.bin 
  [2] Use default ip addr of the Monitor
      Tovrin.exe -fp c:\\xxx\\FileName.bin 
  [3] If the firmware file is in current directory
      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp Filename.bin

  -->  VERIFY FIRMWARE:
  * If you just want to verify the firmware without programming use -v option
      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\xxx\\FileName.bin -v 

  -->  DISPLAY UNIT IDENTITY:
      Tovrin.exe -ip xxx.xxx.xxx.xxx -u

  -->  SEVERAL DRIVES:
  * List the drives after -ip separated by commas, or use -a for every drive
    found on the LAN; all run side by side and a table ends the run
      Tovrin.exe -ip xxx.xxx.xxx.xxx,xxx.xxx.xxx.xxx -fp c:\\xxx\\FileName.bin
      Tovrin.exe -a -fp c:\\xxx\\FileName.bin
  * To skip drives that already hold the firmware use -s option
  * To program N canary drives first, and the rest only when every canary
    completed, use -c N option (the first N drives of the list)
      Tovrin.exe -ip xxx.xxx.xxx.xxx,xxx.xxx.xxx.xxx -fp FileName.bin -s -c 1
  * To get exit status 0 when every drive completed, 1 when one failed and
    2 when the command line or a file was refused use -e option

  -->  RUN RECORDS:
  * To append one JSON line per drive and run to a file use -r option
      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp FileName.bin -r records.jsonl

  -->  VERSION:
      Tovrin.exe --version
)";

// Runs the loader with args, which must print banner and text and end with
// status 1.
void expectRun(const std::vector<std::string>& args, const std::string& text) {
  std::vector<std::string> argv = tovrinCommand();
  argv.insert(argv.end(), args.begin(), args.end());
  const ProcessResult r = runProcess(argv, std::chrono::seconds(20));
  EXPECT_EQ(r.out, asConsoleBytes(BANNER + text)) << testing::PrintToString(args);
  EXPECT_EQ(r.exitCode, 1) << testing::PrintToString(args);
  EXPECT_EQ(r.err, "") << testing::PrintToString(args);
}

// No arguments and -h show the usage with the address set before them, not
// after; an argument that is no option shows it too, followed by a line that
// names the argument.
TEST(CliTest, Usage) {
  for (const char* args : {"", "-h", "--help", "-h -ip 10.1.2.3"}) {
    expectRun(words(args), usage("192.168.124.120"));
  }
  const struct {
    std::vector<std::string> args;
    const char* named;
  } strangers[] = {
      {words("-H"), "-H"},
      {words("--HELP"), "--HELP"},
      {words("--help=1"), "--help=1"},
      {words("--h"), "--h"},
      {words("-IP 10.0.0.1"), "-IP"},
      {words("fw.bin"), "fw.bin"},
      {words("-uv"), "-uv"},
      {words("-u -x"), "-x"},
      {words("-fp fw.bin -v extra"), "extra"},
      {{""}, ""},
  };
  for (const auto& c : strangers) {
    expectRun(c.args, usage("192.168.124.120") + "ERROR: Argument not understood: " + c.named);
  }
  expectRun(words("-ip 10.1.2.3 -h"), usage("10.1.2.3"));
  expectRun(words("-ip 10.0.0.7 -u -bogus"),
            usage("10.0.0.7") + "ERROR: Argument not understood: -bogus");
  expectRun(words("-ip 0x0a.0.0.1 -h"), usage("10.0.0.1"));
  expectRun(words("-ip 1.2.3.4 -ip 5.6.7.8 -h"), usage("5.6.7.8"));
  expectRun(words("-ip 10.0.0.9 --help -ip 10.0.0.1"), usage("10.0.0.9"));
}

// The manual and the option errors end the run where they stand.
TEST(CliTest, ManualAndOptionErrors) {
  for (const char* args : {"-m", "-fp fw.bin -m", "-m -h"}) {
    expectRun(words(args), MANUAL);
  }
  for (const char* args : {"-ip", "-u -ip", "-ip 300.1.1.1 -h", "-ip 255.255.255.255",
                           "-ip -fp fw.bin", "-ip bad -ip 10.0.0.1",
                           // zero-padded parts are refused, not read as octal
                           "-ip 192.168.001.010 -h", "-ip 010.0.0.1 -u"}) {
    expectRun(words(args), "\nERROR : Check ip address");
  }
  for (const char* args : {"-fp", "-ip 10.0.0.1 -fp"}) {
    expectRun(words(args), "\nERROR: You must specify file name");
  }
}

// --version alone prints the name and version, without the banner, and is
// the one run that ends with status 0; after an option that acts, it is not
// reached.
TEST(CliTest, Version) {
  for (const char* args : {"--version", "-ip 10.0.0.1 --version", "--version -h"}) {
    std::vector<std::string> argv = tovrinCommand();
    for (const std::string& arg : words(args)) {
      argv.push_back(arg);
    }
    const ProcessResult r = runProcess(argv, std::chrono::seconds(20));
    EXPECT_EQ(r.out, asConsoleBytes(std::string("tovrin ") + TOVRIN_VERSION + "\n")) << args;
    EXPECT_EQ(r.exitCode, 0) << args;
    EXPECT_EQ(r.err, "") << args;
  }
  expectRun(words("-h --version"), usage("192.168.124.120"));
}

// On a terminal, a run whose last text does not end its line gets a line
// feed, so that the prompt starts on a line of its own; a text that ends its
// line gets none. (Files and pipes get the bytes as written, above.)
TEST(CliTerminal, ThePromptStartsOnALineOfItsOwn) {
  std::vector<std::string> argv = tovrinCommand();
  argv.insert(argv.end(), {"-ip", "300.1.1.1"});
  EXPECT_TRUE(runInTerminal(argv, std::chrono::seconds(20))
                  .out.ends_with("\r\nERROR : Check ip address\r\n"));
  argv.back() = "-h";
  argv.erase(argv.end() - 2);
  EXPECT_TRUE(runInTerminal(argv, std::chrono::seconds(20)).out.ends_with("[OPTIONAL]\r\n"));
}

}  // namespace
