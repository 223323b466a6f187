#include "cli/fixed_texts.h"

#include "cli/settings.h"
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

void printUsage(RunOutput& out, DriveAddress ip) {
  out.write("COMMAND : Tovrin.exe [-h] | [-m] | [-d] | [-ip] (([-fp] | [-v]) | [-u]) \n");
  // Each section's heading, then the lines of its options; the sections
  // after the first two came with the options added later, in the same style.
  const struct {
    UsageSection section;
    const char* heading;
  } sections[] = {
      {UsageSection::info, "Tovrin Info Options  -\r\n"},
      {UsageSection::programming, "Programming Options -\n"},
      {UsageSection::moreInfo, "More Info Options -\n"},
      {UsageSection::severalDrives, "Several Drives Options -\n"},
  };
  for (const auto& part : sections) {
    out.write(part.heading);
    for (const Option& option : commandLineOptions()) {
      for (const UsageLine& line : option.usage) {
        if (line.text == nullptr || line.section != part.section) {
          continue;
        }
        // The default drive address, where the line shows it.
        const std::string_view text = line.text;
        const std::size_t at = text.find("%s");
        if (at == std::string_view::npos) {
          out.write(text);
        } else {
          out.write(text.substr(0, at));
          out.write(addressText(ip));
          out.write(text.substr(at + 2));
        }
      }
    }
  }
}

void printNotUnderstood(RunOutput& out, const std::string& argument) {
  out.write("ERROR: Argument not understood: " + argument);
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
