// Fuzz target: the response dispatcher and the identity and digest report.
//
// The input is one datagram as rxthread takes it in, of any length (the
// fuzzer is run with inputs of 0 to 600 bytes). It is copied into a heap
// block of exactly its size, so any read beyond what arrived is caught.
// Checked on every input: the datagram is acknowledged, and the report step
// runs (doneFlag) exactly for a successful answer to CMD_ENTER_MONITOR that
// announces and carries the drive's digest. The report is printed to
// /dev/null in the verify mode, the one that prints the most.
//
// fuzz-options: -max_len=600
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "image/image.h"
#include "link/dispatch.h"
#include "link/link.h"
#include "link/report.h"
#include "platform/coding.h"
#include "protocol/loader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::abort();
  }
  for (std::size_t i = 0; i < sizeof fileDigest; ++i) {
    fileDigest[i] = static_cast<std::uint8_t>(i);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto datagram = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) {
    std::memcpy(datagram.get(), data, size);
  }
  runMode = MODE_VERIFY;
  ackReceived = false;
  doneFlag = false;
  dispatchResponse(datagram.get(), size);

  const bool success = size > RESPONSE_STATUS_OFFSET && data[RESPONSE_STATUS_OFFSET] == 1;
  const bool identityAnswer = success && getBig16(data) == CMD_ENTER_MONITOR;
  const bool carriesDigest = identityAnswer && size >= RESPONSE_DIGEST_OFFSET + DIGEST_SIZE &&
                             getBig16(data + RESPONSE_LENGTH_OFFSET) > UNIT_IDENTITY_SIZE;
  if (!ackReceived || doneFlag != carriesDigest) {
    std::abort();
  }

  // The report operations on their own, on records of exactly their size
  // cut from the input, in every run mode.
  if (size >= UNIT_IDENTITY_SIZE) {
    auto record = std::make_unique<std::uint8_t[]>(UNIT_IDENTITY_SIZE);
    std::memcpy(record.get(), data + size - UNIT_IDENTITY_SIZE, UNIT_IDENTITY_SIZE);
    printUnitIdentity(record.get());
  }
  if (size >= DIGEST_SIZE) {
    auto digest = std::make_unique<std::uint8_t[]>(DIGEST_SIZE);
    std::memcpy(digest.get(), data, DIGEST_SIZE);
    for (const RunMode mode : {MODE_PROGRAM, MODE_IDENTITY, MODE_VERIFY}) {
      runMode = mode;
      doneFlag = false;
      reportDriveDigest(digest.get());
      if (!doneFlag) {
        std::abort();
      }
    }
  }
  return 0;
}
