// Fuzz target: the command line.
//
// The input is an argument vector: its bytes split at every zero byte into
// arguments (so "-ip\0" "10.0.0.5\0" "-u" is three arguments). Each argument
// lives in a heap block of its exact size, so reading past its terminator is
// caught. The options are read as the process entry reads them, and the
// entry's own dispatch prints what it would (to a writer that keeps
// nothing), with the network left out: every outcome must return here, none
// may crash, every refusal must say why, and an accepted address must be one
// the reader can produce.
//
// fuzz-options: -max_len=512
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/address_list.h"
#include "cli/entry.h"
#include "cli/run_output.h"
#include "cli/settings.h"
#include "protocol/address.h"

namespace {

constexpr std::size_t MAX_ARGUMENTS = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The texts are printed as the entry prints them, but not kept.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::unique_ptr<char[]>> storage;
  storage.push_back(std::make_unique<char[]>(7));
  std::memcpy(storage.back().get(), "tovrin", 7);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size && storage.size() < MAX_ARGUMENTS; ++i) {
    if (i == size || data[i] == 0) {
      const std::size_t length = i - start;
      storage.push_back(std::make_unique<char[]>(length + 1));
      if (length > 0) {
        std::memcpy(storage.back().get(), data + start, length);
      }
      storage.back()[length] = '\0';
      start = i + 1;
    }
  }
  if (size == 0) {
    storage.pop_back();  // no input: no argument at all
  }
  std::vector<char*> argv;
  argv.reserve(storage.size() + 1);
  for (auto& arg : storage) {
    argv.push_back(arg.get());
  }
  argv.push_back(nullptr);

  const CommandLine line = readCommandLine(static_cast<int>(storage.size()), argv.data());
  if (line.action == EntryAction::bareUsage && size != 0) {
    std::abort();  // only the empty command line is bare
  }
  if (line.action == EntryAction::refused && line.refusal.empty()) {
    std::abort();  // every refusal says why
  }
  // The sessions' settings: every drive once, none of them the limited
  // broadcast (the classic rules' "not an address"), at most the bound;
  // nothing goes to the network.
  const NetworkActions network{
      .discovery = [] { return true; },
      .sessions =
          [&line] {
            const auto& drives = line.settings.driveAddresses;
            std::vector<DriveAddress> sorted(drives.begin(), drives.end());
            std::sort(sorted.begin(), sorted.end());
            if (drives.empty() || drives.size() > MAX_DRIVES ||
                std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end() ||
                std::find(drives.begin(), drives.end(), BROADCAST_ADDRESS) != drives.end() ||
                line.settings.mode > RunMode::plan) {
              std::abort();
            }
            return SessionsEnd{};
          },
  };
  if (line.action != EntryAction::version) {
    ConsoleWriter console([](std::string_view) { return true; });
    RunOutput out(console);
    dispatch(line, out, network);
  }
  return 0;
}
