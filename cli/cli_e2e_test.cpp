// The loader as a user runs it: every console text byte for byte, written out
// here independently of the code that prints it, and exit status 1 always.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testkit/process.h"

namespace {

const std::string RULE(63, '-');

const std::string BANNER = "\r\n" + RULE + "\r\n" + "KV720 Drive" + std::string(26, ' ') +
                           "(c) Tovrin Motion Controls" + "\r\n" + "Ethernet Firmware Loader" +
                           std::string(27, ' ') + "Version 1.00" + "\r\n" + RULE + "\r\n";

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
         "  -u : Display Unit Identity        [OPTIONAL]\n";
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
)";

ProcessResult tovrin(const std::vector<std::string>& args) {
  auto argv = tovrinCommand();
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv, std::chrono::seconds(20));
}

void expectRun(const std::vector<std::string>& args, const std::string& expected) {
  std::string line;
  for (const auto& a : args) {
    line += "[" + a + "] ";
  }
  const ProcessResult r = tovrin(args);
  EXPECT_EQ(r.out, asConsoleBytes(expected)) << line;
  EXPECT_EQ(r.exitCode, 1) << line;
  EXPECT_EQ(r.err, "") << line;
  EXPECT_FALSE(r.timedOut) << line;
}

TEST(CliTest, TextsHaveTheirExactLayout) {
  EXPECT_EQ(BANNER.size(), 2 + 4 * (63 + 2));
  EXPECT_EQ(MANUAL.find('\t'), std::string::npos);
  EXPECT_EQ(usage("192.168.124.120").find('\t'), std::string::npos);
}

TEST(CliTest, NoArgumentsShowTheBannerAndTheUsageWithTheDefaultAddress) {
  expectRun({}, BANNER + usage("192.168.124.120"));
}

TEST(CliTest, HelpAndUnknownArgumentsShowTheUsage) {
  const std::vector<std::vector<std::string>> lines = {
      {"-h"}, {"-H"},  {"--h"},      {"-IP", "10.0.0.1"},       {"fw.bin"},
      {""},   {"-uv"}, {"-u", "-x"}, {"-h", "-ip", "10.1.2.3"}, {"-fp", "fw.bin", "-v", "extra"}};
  for (const auto& args : lines) {
    expectRun(args, BANNER + usage("192.168.124.120"));
  }
}

TEST(CliTest, TheUsageShowsTheAddressSetBeforeIt) {
  expectRun({"-ip", "10.1.2.3", "-h"}, BANNER + usage("10.1.2.3"));
  expectRun({"-ip", "10.0.0.7", "-u", "-bogus"}, BANNER + usage("10.0.0.7"));
  expectRun({"-ip", "0x0a.010.0.1", "-h"}, BANNER + usage("10.8.0.1"));
  expectRun({"-ip", "1.2.3.4", "-ip", "5.6.7.8", "-h"}, BANNER + usage("5.6.7.8"));
}

TEST(CliTest, TheManualEndsTheRunWhereItStands) {
  expectRun({"-m"}, BANNER + MANUAL);
  expectRun({"-fp", "fw.bin", "-m"}, BANNER + MANUAL);
  expectRun({"-m", "-h"}, BANNER + MANUAL);
}

TEST(CliTest, OptionErrorsPrintTheirLineAndNothingElse) {
  const std::string ipError = "\nERROR : Check ip address";
  const std::string fileError = "\nERROR: You must specify file name";
  expectRun({"-ip"}, BANNER + ipError);
  expectRun({"-u", "-ip"}, BANNER + ipError);
  expectRun({"-ip", "300.1.1.1", "-h"}, BANNER + ipError);
  expectRun({"-ip", "255.255.255.255"}, BANNER + ipError);
  expectRun({"-ip", "-fp", "fw.bin"}, BANNER + ipError);
  expectRun({"-ip", "bad", "-ip", "10.0.0.1"}, BANNER + ipError);
  expectRun({"-fp"}, BANNER + fileError);
  expectRun({"-ip", "10.0.0.1", "-fp"}, BANNER + fileError);
}

}  // namespace
