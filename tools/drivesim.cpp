// drivesim: simulated KV720 boot monitors for the tests, the demo and the
// benchmarks.
//
// One process plays one drive per address it is given, each bound on UDP
// port 8995 of its address with its own state, image and faults, and, with
// --discovery, answers broadcast discovery probes from every address. Every
// datagram in and out is logged as one line on standard output (unless
// --quiet), so tests can follow along.
//
// Everything runs on the main thread: one poll() over all bound sockets,
// and a queue of pending sends ordered by the time they are due, so delayed
// answers never hold up a receive and a hundred drives cost no more than
// the datagrams they handle. Run `drivesim --help` for the options.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/coding.h"
#include "platform/net.h"
#include "platform/std_streams.h"
#include "tools/drivesim_discovery.h"
#include "tools/drivesim_drive.h"
#include "tools/drivesim_log.h"
#include "tools/drivesim_options.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t MAX_PENDING = 100000;
constexpr int POLL_SLICE_MS = 100;  // longest wait before the stop flag is seen again

// The signal that asks the process to stop; a handler can set nothing else.
std::atomic<int> stopSignal{0};

void onSignal(int sig) { stopSignal = sig; }

// One bound socket and what arrives on it.
enum class SocketRole : std::uint8_t { drive, wildcard, strayOnly };

struct Endpoint {
  DriveAddress address;
  UdpSocket sock;
  SocketRole role = SocketRole::drive;
  std::size_t drive = 0;  // index of the drive, for SocketRole::drive
};

enum class SendKind : std::uint8_t { answer, probeReply, stray };

struct PendingSend {
  const UdpSocket* sock = nullptr;  // one of the endpoints' sockets
  DriveAddress from;
  DriveAddress to;
  std::uint16_t toPort = 0;
  SendKind kind = SendKind::answer;
  std::vector<std::uint8_t> bytes;
};

struct StartError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Simulator {
 public:
  Simulator(const SimSettings& settings, const SimLog& log) : settings_(settings), log_(log) {
    for (const DriveSettings& d : settings.drives) {
      drives_.emplace_back(d, log);
    }
  }

  void openSockets();
  void serve();
  void finish() const {
    for (const Drive& d : drives_) {
      d.writeImage();
    }
  }

 private:
  UdpSocket bindUdp(DriveAddress address) const;
  const UdpSocket* socketFor(DriveAddress address) const;
  void queue(Clock::time_point due, PendingSend send);
  void sendNow(const PendingSend& send) const;
  void sendDue(Clock::time_point now);
  void onDatagram(const Endpoint& e, const std::uint8_t* data, std::size_t size, DriveAddress from,
                  std::uint16_t fromPort);

  const SimSettings& settings_;
  const SimLog& log_;
  std::vector<Drive> drives_;
  // Held while the sockets are open; declared first, so they close before.
  std::optional<NetLibrary> library_;
  std::vector<Endpoint> endpoints_;  // the drives first, in address order
  std::multimap<Clock::time_point, PendingSend> pending_;
};

std::string endpointText(DriveAddress address, std::uint16_t port) {
  return addressText(address) + ":" + std::to_string(port);
}

UdpSocket Simulator::bindUdp(DriveAddress address) const {
  UdpSocket s = UdpSocket::open();
  if (!s.isOpen()) {
    throw StartError("can't open a UDP socket");
  }
  if (!s.setReuseAddress() || !s.bind(address.toNet(), LOADER_PORT)) {
    throw StartError("can't bind " + endpointText(address, LOADER_PORT));
  }
  // poll() says when a datagram waits; the time-out only guards against a
  // receive that would block all the same.
  s.setReceiveTimeout(50);
  return s;
}

void Simulator::openSockets() {
  library_ = NetLibrary::start();
  if (!library_) {
    throw StartError("can't start the socket library");
  }
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    endpoints_.push_back(
        {drives_[i].address(), bindUdp(drives_[i].address()), SocketRole::drive, i});
  }
  if (settings_.discovery) {
    UdpSocket s = bindUdp(DriveAddress());
    s.setBroadcast();
    endpoints_.push_back({DriveAddress(), std::move(s), SocketRole::wildcard, 0});
  }
  for (const Drive& d : drives_) {
    const DriveFaults& f = d.settings().faults;
    for (const auto& [wanted, address] :
         {std::pair{f.stray, f.strayFrom}, std::pair{f.answerElsewhere, f.answerFrom}}) {
      if (wanted && socketFor(address) == nullptr) {
        endpoints_.push_back({address, bindUdp(address), SocketRole::strayOnly, 0});
      }
    }
  }
  for (const Endpoint& e : endpoints_) {
    if (e.role != SocketRole::strayOnly) {
      log_.line("listening %s", endpointText(e.address, LOADER_PORT).c_str());
    }
  }
  log_.line("ready");
}

const UdpSocket* Simulator::socketFor(DriveAddress address) const {
  for (const Endpoint& e : endpoints_) {
    if (e.address == address && e.role != SocketRole::wildcard) {
      return &e.sock;
    }
  }
  return nullptr;
}

void Simulator::queue(Clock::time_point due, PendingSend send) {
  if (pending_.size() >= MAX_PENDING) {
    log_.datagram("dropped send to %s: too many pending",
                  endpointText(send.to, send.toPort).c_str());
    return;
  }
  pending_.emplace(due, std::move(send));
}

void Simulator::sendNow(const PendingSend& send) const {
  const std::string to = endpointText(send.to, send.toPort);
  const std::string from = addressText(send.from);
  if (send.sock == nullptr ||
      send.sock->send(send.bytes, send.to.toNet(), send.toPort) != NetSend::sent) {
    log_.datagram("send failed %s -> %s", from.c_str(), to.c_str());
  } else if (send.kind == SendKind::probeReply) {
    log_.datagram("reply %s -> %s", from.c_str(), to.c_str());
  } else if (send.kind == SendKind::stray) {
    log_.datagram("stray %s -> %s", from.c_str(), to.c_str());
  } else {
    const std::uint8_t* b = send.bytes.data();
    log_.datagram("tx %s -> %s code=%u status=%u length=%u size=%zu", from.c_str(), to.c_str(),
                  unsigned{getBig16(b + RESPONSE_CODE_OFFSET)}, unsigned{b[RESPONSE_STATUS_OFFSET]},
                  unsigned{getBig16(b + RESPONSE_LENGTH_OFFSET)}, send.bytes.size());
  }
}

void Simulator::sendDue(Clock::time_point now) {
  while (!pending_.empty() && pending_.begin()->first <= now) {
    const PendingSend send = std::move(pending_.begin()->second);
    pending_.erase(pending_.begin());
    sendNow(send);
  }
}

void Simulator::onDatagram(const Endpoint& e, const std::uint8_t* data, std::size_t size,
                           DriveAddress from, std::uint16_t fromPort) {
  const Clock::time_point now = Clock::now();
  const std::string src = endpointText(from, fromPort);
  if (e.role == SocketRole::strayOnly) {
    log_.datagram("junk %s size=%zu: not a drive address", src.c_str(), size);
    return;
  }
  if (e.role == SocketRole::wildcard) {
    const auto replies = probeReplies(drives_, data, size);
    log_.datagram(replies.empty() ? "junk %s size=%zu: not a discovery probe" : "probe %s size=%zu",
                  src.c_str(), size);
    for (const ProbeReply& r : replies) {
      queue(now + std::chrono::milliseconds(r.delayMs),
            {&endpoints_[r.drive].sock, drives_[r.drive].address(), from, fromPort,
             SendKind::probeReply, *r.bytes});
    }
    return;
  }
  Drive& drive = drives_[e.drive];
  const Reaction reaction = drive.onDatagram(data, size, src);
  if (reaction.stray) {
    const DriveAddress strayFrom = drive.settings().faults.strayFrom;
    sendNow({socketFor(strayFrom), strayFrom, from, fromPort, SendKind::stray, {0, 0, 0, 0, 0}});
  }
  const DriveAddress elsewhere = drive.settings().faults.answerFrom;
  for (const Outgoing& answer : reaction.answers) {
    queue(now + std::chrono::milliseconds(answer.delayMs),
          {answer.fromElsewhere ? socketFor(elsewhere) : &e.sock,
           answer.fromElsewhere ? elsewhere : e.address, from, fromPort, SendKind::answer,
           answer.bytes});
  }
}

void Simulator::serve() {
  static std::uint8_t buf[65536];
  std::vector<pollfd> fds;
  for (const Endpoint& e : endpoints_) {
    fds.push_back({static_cast<int>(e.sock.handle()), POLLIN, 0});
  }
  const auto idleLimit = std::chrono::seconds(settings_.idleTimeoutS);
  Clock::time_point lastDatagram = Clock::now();
  while (stopSignal == 0) {
    sendDue(Clock::now());
    const Clock::time_point now = Clock::now();
    if (settings_.idleTimeoutS > 0 && now - lastDatagram >= idleLimit) {
      log_.line("idle");
      return;
    }
    auto wait = std::chrono::milliseconds(POLL_SLICE_MS);
    const auto until = [&](Clock::time_point t) {
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                std::max(t - now, Clock::duration::zero())));
    };
    if (!pending_.empty()) {
      until(pending_.begin()->first);
    }
    if (settings_.idleTimeoutS > 0) {
      until(lastDatagram + idleLimit);
    }
    if (poll(fds.data(), static_cast<nfds_t>(fds.size()), static_cast<int>(wait.count())) <= 0) {
      continue;  // time-out, or a signal: the top of the loop sees to both
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLERR)) == 0) {
        continue;
      }
      std::size_t received = 0;
      std::uint32_t from = 0;
      std::uint16_t fromPort = 0;
      // One datagram per socket and round, so a flood on one address
      // neither starves the others nor the pending sends.
      if (endpoints_[i].sock.receive(buf, &received, &from, &fromPort) == NetResult::ok) {
        lastDatagram = Clock::now();
        onDatagram(endpoints_[i], buf, received, DriveAddress::fromNet(from), fromPort);
      }
    }
  }
  log_.line("stopped by signal %d", stopSignal.load());
}

void installSignals() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  initStandardOutput();
  installSignals();
  SimSettings settings;
  try {
    settings = parseSimOptions(argc, argv);
  } catch (const OptionError& e) {
    std::fputs(simUsage(), stdout);
    std::printf("error: %s\n", e.what());
    return 2;
  }
  if (settings.help) {
    std::fputs(simUsage(), stdout);
    return 0;
  }
  const SimLog log(settings.quiet, settings.timestamps);
  Simulator sim(settings, log);
  try {
    sim.openSockets();
  } catch (const StartError& e) {
    log.line("error: %s", e.what());
    return 2;
  }
  sim.serve();
  sim.finish();
  return 0;
}
