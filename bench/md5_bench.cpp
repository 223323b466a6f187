// The firmware digest against OpenSSL's MD5, and the load of a large
// firmware file.
//
//   md5Digest/N, opensslMd5/N  throughput of one digest of an N-byte buffer
//                              (bytes_per_second), side by side
//   ratio/N                    21 interleaved rounds of both: each round times
//                              a run of digests of ours and one of OpenSSL's,
//                              in alternating order, and takes OpenSSL's time
//                              over ours (above 1: ours is faster; thread
//                              CPU time); reports the median and the range
//   loadAndStamp/64MiB         loadFirmwareImage of a 64 MiB file (read,
//                              round, stamp, digest) and the peak of resident
//                              memory it adds (peak_MiB); the file is in the
//                              page cache after the first run
//
// Linux only: the peak is taken from /proc/self/status after resetting it
// through /proc/self/clear_refs.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/md5.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/md5.h"

namespace {

constexpr std::int64_t KIB = 1024;
constexpr std::int64_t MIB = 1024 * KIB;

std::vector<std::uint8_t> sampleBuffer(std::int64_t size) {
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
  std::uint32_t x = 2463534242U;
  for (auto& byte : buffer) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return buffer;
}

void ourDigest(const std::vector<std::uint8_t>& buffer) {
  std::uint8_t out[MD5_DIGEST_SIZE];
  md5Digest(out, buffer.data(), static_cast<std::int32_t>(buffer.size()));
  benchmark::DoNotOptimize(out);
  benchmark::ClobberMemory();
}

void opensslDigest(const std::vector<std::uint8_t>& buffer) {
  std::uint8_t out[MD5_DIGEST_LENGTH];
  MD5(buffer.data(), buffer.size(), out);
  benchmark::DoNotOptimize(out);
  benchmark::ClobberMemory();
}

void benchOurs(benchmark::State& state) {
  const auto buffer = sampleBuffer(state.range(0));
  for (auto _ : state) {
    ourDigest(buffer);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void benchOpenssl(benchmark::State& state) {
  const auto buffer = sampleBuffer(state.range(0));
  for (auto _ : state) {
    opensslDigest(buffer);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// CPU time of this thread: on a machine shared with other work, time spent
// waiting for the processor would otherwise land on whichever side was
// running.
double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Digest>
double secondsFor(Digest digest, const std::vector<std::uint8_t>& buffer, int runs) {
  const double start = threadSeconds();
  for (int i = 0; i < runs; ++i) {
    digest(buffer);
  }
  return threadSeconds() - start;
}

constexpr int RATIO_ROUNDS = 21;

void benchRatio(benchmark::State& state) {
  const auto buffer = sampleBuffer(state.range(0));
  // About 32 MiB digested per timing, so each lasts tens of milliseconds.
  const int runs = static_cast<int>(std::max<std::int64_t>(1, 32 * MIB / state.range(0)));
  std::vector<double> ratios;
  double oursBest = 1e30;
  double opensslBest = 1e30;
  for (auto _ : state) {
    ourDigest(buffer);  // warm the caches and the buffer's pages
    opensslDigest(buffer);
    ratios.clear();
    for (int round = 0; round < RATIO_ROUNDS; ++round) {
      double ours = 0;
      double openssl = 0;
      if (round % 2 == 0) {
        ours = secondsFor(ourDigest, buffer, runs);
        openssl = secondsFor(opensslDigest, buffer, runs);
      } else {
        openssl = secondsFor(opensslDigest, buffer, runs);
        ours = secondsFor(ourDigest, buffer, runs);
      }
      ratios.push_back(openssl / ours);
      oursBest = std::min(oursBest, ours);
      opensslBest = std::min(opensslBest, openssl);
    }
  }
  std::sort(ratios.begin(), ratios.end());
  const double bytes = static_cast<double>(runs) * static_cast<double>(state.range(0));
  state.counters["ratio_median"] = ratios[ratios.size() / 2];
  state.counters["ratio_min"] = ratios.front();
  state.counters["ratio_max"] = ratios.back();
  state.counters["ours_MBps"] = bytes / oursBest / 1e6;
  state.counters["openssl_MBps"] = bytes / opensslBest / 1e6;
}

// Resident memory of this process in KiB: "VmRSS" now or "VmHWM", the peak
// since the last reset.
long residentKib(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) {
    return -1;
  }
  char line[256];
  long value = -1;
  const std::size_t fieldLength = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, fieldLength) == 0 && line[fieldLength] == ':') {
      value = std::strtol(line + fieldLength + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return value;
}

bool resetPeak() {
  std::FILE* clearRefs = std::fopen("/proc/self/clear_refs", "w");
  if (clearRefs == nullptr) {
    return false;
  }
  const bool written = std::fputs("5", clearRefs) >= 0;
  return std::fclose(clearRefs) == 0 && written;
}

void benchLoadAndStamp(benchmark::State& state) {
  const std::int64_t size = state.range(0);
  char path[] = "/tmp/tovrin-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("can't make the sample file");
    return;
  }
  bool written = false;
  {
    const auto bytes = sampleBuffer(size);
    written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  close(fd);
  if (!written) {
    std::remove(path);
    state.SkipWithError("can't write the sample file");
    return;
  }

  // Anything printed goes to /dev/null, not into the report.
  std::fflush(stdout);
  const int console = dup(STDOUT_FILENO);
  const int devNull = open("/dev/null", O_WRONLY);
  long peakKib = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const bool reset = resetPeak();
    const long before = residentKib("VmRSS");
    dup2(devNull, STDOUT_FILENO);
    state.ResumeTiming();

    const ImageLoad load = loadFirmwareImage(path);

    state.PauseTiming();
    const long peak = residentKib("VmHWM");
    std::fflush(stdout);
    dup2(console, STDOUT_FILENO);
    if (reset && before >= 0 && peak >= 0) {
      peakKib = std::max(peakKib, peak - before);
    }
    if (load.error != ImageError::none) {
      state.SkipWithError("the file could not be loaded");
    }
    state.ResumeTiming();
  }
  close(devNull);
  close(console);
  std::remove(path);
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["peak_MiB"] = static_cast<double>(peakKib) / 1024.0;
  state.counters["budget_MiB"] = static_cast<double>(size + 8 * MIB) / static_cast<double>(MIB);
}

void registerAll() {
  for (std::int64_t size : {4 * KIB, 64 * KIB, 1 * MIB, 8 * MIB, 64 * MIB}) {
    benchmark::RegisterBenchmark("md5Digest", benchOurs)->Arg(size);
    benchmark::RegisterBenchmark("opensslMd5", benchOpenssl)->Arg(size);
  }
  for (std::int64_t size : {4 * KIB, 64 * KIB, 1 * MIB, 8 * MIB, 64 * MIB}) {
    benchmark::RegisterBenchmark("ratio", benchRatio)
        ->Arg(size)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("loadAndStamp", benchLoadAndStamp)
      ->Arg(64 * MIB)
      ->Unit(benchmark::kMillisecond)
      ->MinTime(2.0);
}

}  // namespace

int main(int argc, char** argv) {
  registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
