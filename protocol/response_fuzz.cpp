// Fuzz target: reading a datagram as the drive's answer.
//
// The input is one datagram as the link takes it in, of any length (the
// fuzzer is run with inputs of 0 to 600 bytes), copied into a heap block of
// exactly its size, so any read beyond what arrived is caught. Checked on
// every input: a datagram of fewer than 5 bytes is no answer; the identity
// is read exactly when all of its bytes arrived, the digest exactly when it
// is announced and arrived; and a command read back from the same bytes
// never reaches past them.
//
// fuzz-options: -max_len=600
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "protocol/identity.h"
#include "protocol/loader.h"
#include "protocol/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto copy = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) {
    std::memcpy(copy.get(), data, size);
  }
  const std::span<const std::uint8_t> datagram(copy.get(), size);
  const std::optional<Response> response = decodeResponse(datagram);
  if (response.has_value() != (size >= RESPONSE_HEADER_SIZE)) {
    std::abort();
  }
  if (response) {
    const bool identity = responseIdentity(*response).has_value();
    const bool digest = responseDigest(*response).has_value();
    if (identity != (size >= IDENTITY_RESPONSE_SIZE) ||
        digest != (size >= DIGEST_RESPONSE_SIZE && response->length > UNIT_IDENTITY_SIZE)) {
      std::abort();
    }
  }
  const std::optional<Command> command = decodeCommand(datagram);
  if (command && (command->payload.data() + command->payload.size() > copy.get() + size ||
                  command->payload.size() > MAX_PAYLOAD)) {
    std::abort();
  }
  static_cast<void>(isDiscoveryReply(datagram));
  return 0;
}
