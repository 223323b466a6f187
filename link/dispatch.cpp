// The response dispatcher.
#include "link/dispatch.h"

#include <cstdio>

#include "link/link.h"
#include "link/report.h"
#include "platform/coding.h"
#include "protocol/loader.h"

void dispatchResponse(const std::uint8_t* datagram, std::size_t received) {
  // Any datagram counts as the answer to the command last sent, before
  // anything in it is looked at. The exchange also reads the sender's last
  // clearing of the flag, so what the main thread set before it sent its
  // command (RunMode, fileDigest) is seen here.
  ackReceived.exchange(true);
  if (received <= RESPONSE_STATUS_OFFSET || datagram[RESPONSE_STATUS_OFFSET] != STATUS_SUCCESS) {
    return;
  }
  const std::uint16_t code = getBig16(datagram + RESPONSE_CODE_OFFSET);
  if (code >= CMD_CONNECT && code < CMD_ENTER_MONITOR) {
    return;
  }
  if (code != CMD_ENTER_MONITOR) {
    std::fputs("\nERROR : Oops! wrong command code", stdout);
    return;
  }
  if (received < RESPONSE_DIGEST_OFFSET) {
    return;
  }
  printUnitIdentity(datagram + RESPONSE_IDENTITY_OFFSET);
  const std::uint16_t length = getBig16(datagram + RESPONSE_LENGTH_OFFSET);
  if (length > UNIT_IDENTITY_SIZE && received >= RESPONSE_DIGEST_OFFSET + DIGEST_SIZE) {
    reportDriveDigest(datagram + RESPONSE_DIGEST_OFFSET);
  }
}
