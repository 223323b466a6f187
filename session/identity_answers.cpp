#include "session/identity_answers.h"

#include <algorithm>

std::optional<UnitIdentity> IdentityAnswers::identity() const {
  if (!shown_) {
    return std::nullopt;
  }
  return decodeIdentity(*shown_);
}

std::optional<UnitIdentity> IdentityAnswers::take(const Response& response, TimePoint now) {
  if (!first_) {
    first_ = now;
  }
  if (!digest_) {
    digest_ = responseDigest(response);
  }
  if (response.content.size() < UNIT_IDENTITY_SIZE) {
    return std::nullopt;
  }
  IdentityBytes record{};
  std::copy_n(response.content.begin(), UNIT_IDENTITY_SIZE, record.begin());
  if (shown_ == record) {
    return std::nullopt;
  }
  shown_ = record;
  return responseIdentity(response);
}
