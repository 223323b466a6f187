#include "cli/texts.h"

#include "tovrin_version.h"

namespace {

constexpr const char* RULE = "---------------------------------------------------------------";

}  // namespace

void printBanner(ConsoleOut& out) {
  out.write("\r\n");
  out.write(RULE);
  out.write("\r\n");
  out.write("KV720 Drive                          (c) Tovrin Motion Controls");
  out.write("\r\n");
  out.format("Ethernet Firmware Loader%39s", TOVRIN_VERSION_LABEL);
  out.write("\r\n");
  out.write(RULE);
  out.write("\r\n");
}

void printUsage(ConsoleOut& out, std::uint32_t ip) {
  out.write("COMMAND : Tovrin.exe [-h] | [-m] | [-d] | [-ip] (([-fp] | [-v]) | [-u]) \n");
  out.write("Tovrin Info Options  -\r\n");
  out.write("  -h : Help Menu\n");
  out.write("  -m : Manual\n");
  out.write("  -d : Discover IP address of the drive's on the LAN\n");
  out.write("Programming Options -\n");
  out.format("  -ip : IP address of the drive     [OPTIONAL : Default ip = %u.%u.%u.%u ]\n",
             (ip >> 24) & 0xFFu, (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu);
  out.write("  -fp : Firmware path               [MANDATORY]\n");
  out.write("  -v : Only verify firmware         [OPTIONAL]\n");
  out.write("  -u : Display Unit Identity        [OPTIONAL]\n");
}

void printManual(ConsoleOut& out) {
  out.write("\nTovrin Manual -\n");
  out.write("  -->  README:\n");
  out.write("  * All command option has to be lowercase\n");
  out.write("  * All command option must be followed by dash i.e. -ip\n");
  out.write("  * <space> are important!!!\n");
  out.write("\n");
  out.write("  -->  PROGRAM FIRMWARE:\n");
  out.write("  * To program firmware use one of the following command :\n");
  out.write("  [1] Specify ip addr and complete file path\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\\\xxx\\\\FileName.bin \n");
  out.write("  [2] Use default ip addr of the Monitor\n");
  out.write("      Tovrin.exe -fp c:\\\\xxx\\\\FileName.bin \n");
  out.write("  [3] If the firmware file is in current directory\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp Filename.bin\n");
  out.write("\n");
  out.write("  -->  VERIFY FIRMWARE:\n");
  out.write("  * If you just want to verify the firmware without programming use -v option\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\\\xxx\\\\FileName.bin -v \n");
  out.write("\n");
  out.write("  -->  DISPLAY UNIT IDENTITY:\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx -u\n");
}
