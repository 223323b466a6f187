#include "cli/fixed_texts.h"

#include "protocol/value_text.h"
#include "tovrin_version.h"

namespace {

constexpr const char* RULE = "---------------------------------------------------------------";

}  // namespace

void printBanner(RunOutput& out) {
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

void printUsage(RunOutput& out, std::uint32_t ip) {
  out.write("COMMAND : Tovrin.exe [-h] | [-m] | [-d] | [-ip] (([-fp] | [-v]) | [-u]) \n");
  out.write("Tovrin Info Options  -\r\n");
  out.write("  -h : Help Menu\n");
  out.write("  -m : Manual\n");
  out.write("  -d : Discover IP address of the drive's on the LAN\n");
  out.write("Programming Options -\n");
  out.format("  -ip : IP address of the drive     [OPTIONAL : Default ip = %s ]\n",
             addressText(ip).c_str());
  out.write("  -fp : Firmware path               [MANDATORY]\n");
  out.write("  -v : Only verify firmware         [OPTIONAL]\n");
  out.write("  -u : Display Unit Identity        [OPTIONAL]\n");
  // The options that came after the ones above, in the same style.
  out.write("More Info Options -\n");
  out.write("  --help : Help Menu\n");
  out.write("  --version : Version of the loader\n");
  out.write("Several Drives Options -\n");
  out.write("  -ip : Addresses a,b,... of drives [OPTIONAL : At most 100 drives ]\n");
  out.write("  -a : Every drive found on the LAN [OPTIONAL]\n");
  out.write("  -c N : First N drives as canaries [OPTIONAL : N = 1 to 100 ]\n");
  out.write("  -s : Skip drives already current  [OPTIONAL]\n");
  out.write("  -e : Exit status tells the result [OPTIONAL : 0 done, 1 failed, 2 refused ]\n");
  out.write("  -r : Run record file (JSON lines) [OPTIONAL]\n");
}

void printManual(RunOutput& out) {
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
  // The sections of the options that came after the ones above.
  out.write("\n");
  out.write("  -->  SEVERAL DRIVES:\n");
  out.write("  * List the drives after -ip separated by commas, or use -a for every drive\n");
  out.write("    found on the LAN; all run side by side and a table ends the run\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx,xxx.xxx.xxx.xxx -fp c:\\\\xxx\\\\FileName.bin\n");
  out.write("      Tovrin.exe -a -fp c:\\\\xxx\\\\FileName.bin\n");
  out.write("  * To skip drives that already hold the firmware use -s option\n");
  out.write("  * To program N canary drives first, and the rest only when every canary\n");
  out.write("    completed, use -c N option (the first N drives of the list)\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx,xxx.xxx.xxx.xxx -fp FileName.bin -s -c 1\n");
  out.write("  * To get exit status 0 when every drive completed, 1 when one failed and\n");
  out.write("    2 when the command line or a file was refused use -e option\n");
  out.write("\n");
  out.write("  -->  RUN RECORDS:\n");
  out.write("  * To append one JSON line per drive and run to a file use -r option\n");
  out.write("      Tovrin.exe -ip xxx.xxx.xxx.xxx -fp FileName.bin -r records.jsonl\n");
  out.write("\n");
  out.write("  -->  VERSION:\n");
  out.write("      Tovrin.exe --version\n");
}
