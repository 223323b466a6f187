#include "link/send_budget.h"

#include <algorithm>

SendBudget::SendBudget(std::size_t queueBytes, std::size_t drives) {
  if (queueBytes > 0) {
    share_ = queueBytes / 2 / std::max<std::size_t>(drives, 1);
  }
}

bool SendBudget::mayGo(DriveAddress to, std::size_t size, TimePoint now) {
  if (share_ == 0 || heard_.contains(to)) {
    return true;
  }
  Account& account = accounts_[to];
  while (!account.charges.empty() && now - account.charges.front().at >= RESOLUTION_WINDOW) {
    account.bytes -= account.charges.front().bytes;
    account.charges.pop_front();
  }
  const std::size_t charge = size + OVERHEAD;
  // At least one datagram per window, however small the share.
  if (!account.charges.empty() && account.bytes + charge > share_) {
    return false;
  }
  account.charges.push_back({now, charge});
  account.bytes += charge;
  return true;
}
