#include "cli/settings.h"

#include <cstring>
#include <optional>
#include <utility>

#include "cli/address_list.h"

namespace {

bool is(const char* arg, const char* option) {
  return option != nullptr && std::strcmp(arg, option) == 0;
}

// 1 to MAX_CANARIES in decimal digits, without a leading zero.
std::optional<std::size_t> canaryCount(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 3 || text[0] == '0') {
    return std::nullopt;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return std::nullopt;
    }
    n = n * 10 + static_cast<std::size_t>(text[i] - '0');
  }
  return n <= MAX_CANARIES ? std::optional(n) : std::nullopt;
}

bool setDrives(RunSettings& s, const char* value) {
  auto addresses = parseAddressList(value);
  if (!addresses) {
    return false;
  }
  s.driveAddresses = std::move(*addresses);
  s.addressList = std::strchr(value, ',') != nullptr;
  s.everyDiscovered = false;
  return true;
}

bool setCanaries(RunSettings& s, const char* value) {
  const auto count = canaryCount(value);
  if (count) {
    s.canaries = *count;
  }
  return count.has_value();
}

bool setCatalog(RunSettings& s, const char* value) {
  if (*value == '\0') {
    return false;
  }
  s.catalogFolder = value;
  return true;
}

constexpr const char* CATALOG_REFUSAL = "\nERROR: You must specify catalog folder";

using S = UsageSection;

constexpr Option OPTIONS[] = {
    {.name = "-h",
     .otherName = "--help",
     .acts = EntryAction::usage,
     .usage = {{S::info, "  -h : Help Menu\n"}, {S::moreInfo, "  --help : Help Menu\n"}}},
    {.name = "-m", .acts = EntryAction::manual, .usage = {{S::info, "  -m : Manual\n"}}},
    {.name = "-d",
     .acts = EntryAction::discovery,
     .usage = {{S::info, "  -d : Discover IP address of the drive's on the LAN\n"}}},
    {.name = "-ip",
     .takesValue = true,
     .repeatedOnRetry = false,
     .apply = setDrives,
     .refusal = "\nERROR : Check ip address",
     .usage = {{S::programming,
                "  -ip : IP address of the drive     [OPTIONAL : Default ip = %s ]\n"},
               {S::severalDrives,
                "  -ip : Addresses a,b,... of drives [OPTIONAL : At most 100 drives ]\n"}}},
    {.name = "-fp",
     .takesValue = true,
     .apply =
         [](RunSettings& s, const char* value) {
           s.firmwarePath = value;
           return true;
         },
     .refusal = "\nERROR: You must specify file name",
     .usage = {{S::programming, "  -fp : Firmware path               [MANDATORY]\n"}}},
    {.name = "-v",
     .apply =
         [](RunSettings& s, const char*) {
           s.mode = RunMode::verify;
           return true;
         },
     .usage = {{S::programming, "  -v : Only verify firmware         [OPTIONAL]\n"}}},
    {.name = "-u",
     .apply =
         [](RunSettings& s, const char*) {
           s.mode = RunMode::identity;
           return true;
         },
     .usage = {{S::programming, "  -u : Display Unit Identity        [OPTIONAL]\n"}}},
    {.name = "--version",
     .acts = EntryAction::version,
     .usage = {{S::moreInfo, "  --version : Version of the loader\n"}}},
    {.name = "-a",
     .repeatedOnRetry = false,
     .apply =
         [](RunSettings& s, const char*) {
           s.everyDiscovered = true;
           return true;
         },
     .usage = {{S::severalDrives, "  -a : Every drive found on the LAN [OPTIONAL]\n"}}},
    {.name = "-c",
     .takesValue = true,
     .apply = setCanaries,
     .refusal = "\nERROR : Check canary count",
     .usage = {{S::severalDrives,
                "  -c N : First N drives as canaries [OPTIONAL : N = 1 to 100 ]\n"}}},
    {.name = "-s",
     .apply =
         [](RunSettings& s, const char*) {
           s.skipCurrent = true;
           return true;
         },
     .usage = {{S::severalDrives, "  -s : Skip drives already current  [OPTIONAL]\n"}}},
    {.name = "-e",
     .apply =
         [](RunSettings& s, const char*) {
           s.outcomeStatus = true;
           return true;
         },
     .usage =
         {{S::severalDrives,
           "  -e : Exit status tells the result [OPTIONAL : 0 done, 1 failed, 2 refused ]\n"}}},
    {.name = "-r",
     .takesValue = true,
     .apply =
         [](RunSettings& s, const char* value) {
           s.recordPath = value;
           return true;
         },
     .refusal = "\nERROR: You must specify record file name",
     .usage = {{S::severalDrives, "  -r : Run record file (JSON lines) [OPTIONAL]\n"}}},
    // The catalog's options show in the manual page, not in the usage
    // text, which stays as it was.
    {.name = "--catalog", .takesValue = true, .apply = setCatalog, .refusal = CATALOG_REFUSAL},
    {.name = "-n",
     .apply =
         [](RunSettings& s, const char*) {
           s.mode = RunMode::plan;
           return true;
         }},
    {.name = "--allow-older",
     .apply =
         [](RunSettings& s, const char*) {
           s.allowOlder = true;
           return true;
         }},
    {.name = "--manifest",
     .takesValue = true,
     .acts = EntryAction::manifest,
     .apply =
         [](RunSettings& s, const char* value) {
           s.manifestPath = value;
           return true;
         },
     .refusal = "\nERROR: You must specify file name"},
};

const Option* optionNamed(const char* arg) {
  for (const Option& option : OPTIONS) {
    if (is(arg, option.name) || is(arg, option.otherName)) {
      return &option;
    }
  }
  return nullptr;
}

// An option that acts where it stands, and a refused line, still honour -e
// among the options after it: -e counts wherever it stands, but not inside
// a value another option took.
CommandLine actNow(CommandLine line, EntryAction action, int next, int argc,
                   const char* const* argv) {
  line.action = action;
  for (int i = next; i < argc; ++i) {
    const Option* option = optionNamed(argv[i]);
    if (option != nullptr && option->takesValue) {
      ++i;
    } else if (is(argv[i], "-e")) {
      line.settings.outcomeStatus = true;
    }
  }
  return line;
}

}  // namespace

std::span<const Option> commandLineOptions() { return OPTIONS; }

bool refusedCommandLine(EntryAction action) {
  switch (action) {
    case EntryAction::refused:
    case EntryAction::unknownArgument:
      return true;
    case EntryAction::session:
    case EntryAction::bareUsage:
    case EntryAction::usage:
    case EntryAction::version:
    case EntryAction::manual:
    case EntryAction::discovery:
    case EntryAction::manifest:
      break;
  }
  return false;
}

CommandLine withCatalogFromEnvironment(CommandLine line, const char* value) {
  if (line.action != EntryAction::session || line.settings.catalogFolder || value == nullptr) {
    return line;
  }
  if (!setCatalog(line.settings, value)) {
    line.action = EntryAction::refused;
    line.refusal = CATALOG_REFUSAL;
  }
  return line;
}

CommandLine readCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  if (argc < 2) {
    line.action = EntryAction::bareUsage;
    return line;
  }
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const Option* option = optionNamed(arg);
    if (option == nullptr) {
      line.refusal = arg;
      return actNow(std::move(line), EntryAction::unknownArgument, i + 1, argc, argv);
    }
    const char* value = nullptr;
    if (option->takesValue) {
      value = ++i < argc ? argv[i] : nullptr;
      if (value == nullptr || !option->apply(line.settings, value)) {
        line.refusal = option->refusal;
        return actNow(std::move(line), EntryAction::refused, i + 1, argc, argv);
      }
    }
    if (option->acts != EntryAction::session) {
      return actNow(std::move(line), option->acts, i + 1, argc, argv);
    }
    if (!option->takesValue) {
      option->apply(line.settings, nullptr);
    }
    if (option->repeatedOnRetry) {
      line.settings.retryOptions.emplace_back(arg);
      if (value != nullptr) {
        line.settings.retryOptions.emplace_back(value);
      }
    }
  }
  line.action = EntryAction::session;
  return line;
}
