#include "cli/texts.h"

#include <cstdio>

#include "link/link.h"
#include "tovrin_version.h"

namespace {

void put(const char* text) { std::fputs(text, stdout); }

constexpr const char* RULE = "---------------------------------------------------------------";

}  // namespace

void printBanner() {
  put("\r\n");
  put(RULE);
  put("\r\n");
  put("KV720 Drive                          (c) Tovrin Motion Controls");
  put("\r\n");
  std::printf("Ethernet Firmware Loader%39s", TOVRIN_VERSION_LABEL);
  put("\r\n");
  put(RULE);
  put("\r\n");
}

void printUsage() {
  const std::uint32_t ip = driveIp;
  put("COMMAND : Tovrin.exe [-h] | [-m] | [-d] | [-ip] (([-fp] | [-v]) | [-u]) \n");
  put("Tovrin Info Options  -\r\n");
  put("  -h : Help Menu\n");
  put("  -m : Manual\n");
  put("  -d : Discover IP address of the drive's on the LAN\n");
  put("Programming Options -\n");
  std::printf("  -ip : IP address of the drive     [OPTIONAL : Default ip = %u.%u.%u.%u ]\n",
              (ip >> 24) & 0xFFu, (ip >> 16) & 0xFFu, (ip >> 8) & 0xFFu, ip & 0xFFu);
  put("  -fp : Firmware path               [MANDATORY]\n");
  put("  -v : Only verify firmware         [OPTIONAL]\n");
  put("  -u : Display Unit Identity        [OPTIONAL]\n");
}

void printManual() {
  put("\nTovrin Manual -\n");
  put("  -->  README:\n");
  put("  * All command option has to be lowercase\n");
  put("  * All command option must be followed by dash i.e. -ip\n");
  put("  * <space> are important!!!\n");
  put("\n");
  put("  -->  PROGRAM FIRMWARE:\n");
  put("  * To program firmware use one of the following command :\n");
  put("  [1] Specify ip addr and complete file path\n");
  put("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\\\xxx\\\\FileName.bin \n");
  put("  [2] Use default ip addr of the Monitor\n");
  put("      Tovrin.exe -fp c:\\\\xxx\\\\FileName.bin \n");
  put("  [3] If the firmware file is in current directory\n");
  put("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp Filename.bin\n");
  put("\n");
  put("  -->  VERIFY FIRMWARE:\n");
  put("  * If you just want to verify the firmware without programming use -v option\n");
  put("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp c:\\\\xxx\\\\FileName.bin -v \n");
  put("\n");
  put("  -->  DISPLAY UNIT IDENTITY:\n");
  put("      Tovrin.exe -ip xxx.xxx.xxx.xxx -u\n");
}
