#include "tools/drivesim_drive.h"

#include <span>

Drive::Drive(const DriveSettings& settings, const SimLog& log)
    : settings_(settings),
      name_(addressText(settings.address)),
      imagePath_(settings.imageOut.empty() ? ""
                                           : imagePathFor(settings.imageOut, settings.address)),
      log_(log),
      faults_(settings.faults, settings.address) {
  if (!settings.heldImage.empty()) {
    image_.store(ImageStore::BASE, settings.heldImage.data(), settings.heldImage.size());
  }
}

Reaction Drive::onDatagram(const std::uint8_t* data, std::size_t size, const std::string& src) {
  const char* at = name_.c_str();
  const auto command = decodeCommand({data, size});
  if (!command) {
    log_.datagram("junk %s -> %s size=%zu: not a command", src.c_str(), at, size);
    return {};
  }
  const Command& c = *command;
  if (faults_.loseIncoming(c.code)) {
    log_.datagram("lost %s -> %s code=%u len=%u target=0x%x size=%zu", src.c_str(), at,
                  unsigned{c.code}, unsigned{c.length}, static_cast<unsigned>(c.target), size);
    return {};
  }
  log_.datagram("rx %s -> %s code=%u len=%u target=0x%x size=%zu", src.c_str(), at,
                unsigned{c.code}, unsigned{c.length}, static_cast<unsigned>(c.target), size);
  // A silent drive is dead to these commands: it takes nothing in.
  if (faults_.silentFor(c.code, c.target)) {
    return {};
  }
  const bool answered = faults_.answersTry(c.code, c.target);
  if (c.code == CMD_PROGRAM_BLOCK) {
    store(c);
  } else if (c.code == CMD_VERIFY) {
    writeImage();
  }
  Reaction r;
  if (!faults_.appliesTo(c.code)) {
    r.answers.push_back({0, answerTo(c, false)});
  } else if (faults_.takeStray()) {
    r.stray = true;
  } else if (answered) {
    faults_.answered(c.code, c.target);
    const auto answer = answerTo(c, true);
    const long delay = faults_.answerDelayMs();
    const bool elsewhere = settings_.faults.answerElsewhere;
    r.answers.push_back({delay, answer, elsewhere});
    if (settings_.faults.twice) {
      r.answers.push_back({delay + settings_.faults.twiceGapMs, answer, elsewhere});
    }
  }
  std::erase_if(r.answers, [&](const Outgoing&) {
    if (!faults_.loseAnswer(c.code)) {
      return false;
    }
    log_.datagram("lost answer %s -> %s code=%u", at, src.c_str(), unsigned{c.code});
    return true;
  });
  return r;
}

void Drive::store(const Command& c) {
  if (c.length > MAX_PAYLOAD) {
    log_.datagram("note: payload length %u is above %zu", unsigned{c.length}, MAX_PAYLOAD);
  }
  if (c.payload.size() < c.length) {
    log_.datagram("note: datagram holds %zu of %u payload bytes", c.payload.size(),
                  unsigned{c.length});
  }
  switch (image_.store(c.target, c.payload.data(), c.payload.size())) {
    case ImageStore::Stored::ok:
      break;
    case ImageStore::Stored::belowBase:
      log_.datagram("ignored block at 0x%x: below 0x%x", static_cast<unsigned>(c.target),
                    static_cast<unsigned>(ImageStore::BASE));
      break;
    case ImageStore::Stored::beyondLimit:
      log_.datagram("ignored block at 0x%x: beyond the %zu-byte image limit",
                    static_cast<unsigned>(c.target), ImageStore::LIMIT);
      break;
  }
}

// The answer with the drive's own status: a verify of an image that does not
// match its header is refused (status 0), whatever the faults say.
std::vector<std::uint8_t> Drive::answerTo(const Command& c, bool faulty) const {
  const auto& f = settings_.faults;
  auto status = static_cast<std::uint8_t>(faulty ? f.status : STATUS_SUCCESS);
  if (c.code == CMD_VERIFY && !image_.matchesHeader()) {
    status = 0;
  }
  const auto code = static_cast<std::uint16_t>(faulty && f.wrongCode >= 0 ? f.wrongCode : c.code);
  // The identity answer carries the identity and, unless left out, the digest.
  std::vector<std::uint8_t> content;
  if (c.code == CMD_ENTER_MONITOR) {
    content.assign(settings_.identity.begin(), settings_.identity.end());
    if (!(faulty && f.noDigest)) {
      const Digest digest = image_.digest(settings_.digest);
      content.insert(content.end(), digest.begin(), digest.end());
    }
  }
  return encodeResponse(code, status, content);
}

void Drive::writeImage() const {
  if (imagePath_.empty()) {
    return;
  }
  if (image_.writeTo(imagePath_)) {
    log_.line("image %zu -> %s", image_.size(), imagePath_.c_str());
  } else {
    log_.line("image write failed -> %s", imagePath_.c_str());
  }
}
