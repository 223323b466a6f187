// The release catalog's cost at a run's start, and its SHA-256.
//
//   loadCatalog/200/stated    loadCatalog of a folder of 200 releases of
//                             1 MiB each whose manifests state the drive
//                             digest (as --manifest writes them): every file
//                             read once and its SHA-256 checked
//   loadCatalog/200/computed  the same without the drive digests: each is
//                             computed from its file (the image's MD5)
//   sha256/<engine>/1MiB      throughput of one digest of 1 MiB: Tovrin's
//                             with the SHA extensions and in portable code,
//                             and OpenSSL's
//
// The folder is written once under /tmp and removed at the end; its files
// are in the page cache after the first round, as a plant PC's catalog is
// after its first run.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/sha256.h"
#include "image/md5.h"
#include "protocol/value_text.h"

namespace {

constexpr std::size_t MIB = 1024 * 1024;
constexpr int RELEASES = 200;

std::vector<std::uint8_t> sampleBuffer(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> buffer(size);
  std::uint32_t x = seed;
  for (auto& byte : buffer) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return buffer;
}

std::string hexOf(const Sha256Digest& digest) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t b : digest) {
    text += DIGITS[b >> 4];
    text += DIGITS[b & 15];
  }
  return text;
}

// A catalog folder of RELEASES files of 1 MiB and their manifests, with or
// without the drive digest.
class CatalogFolder {
 public:
  explicit CatalogFolder(bool statedDigests) {
    std::string pattern = "/tmp/tovrin-catalog-bench-XXXXXX";
    path_ = mkdtemp(pattern.data());
    for (int i = 0; i < RELEASES; ++i) {
      const auto bytes = sampleBuffer(MIB, 2463534242U + static_cast<std::uint32_t>(i));
      const std::string name = "fw-1." + std::to_string(i) + ".bin";
      std::ofstream(path_ + "/" + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(MIB));
      std::string manifest = R"({"version": "1.)" + std::to_string(i) + R"(", "file": ")" + name +
                             R"(", "sha256": ")" + hexOf(sha256Digest(bytes)) + "\"";
      if (statedDigests) {
        manifest += R"(, "driveDigest": ")" + md5Text(makeImage(bytes).digest) + "\"";
      }
      std::ofstream(path_ + "/1." + std::to_string(i) + ".json")
          << manifest << R"(, "models": ["KVB"]})";
    }
  }
  ~CatalogFolder() { std::filesystem::remove_all(path_); }
  CatalogFolder(const CatalogFolder&) = delete;
  CatalogFolder& operator=(const CatalogFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void loadFolder(benchmark::State& state, bool statedDigests) {
  const CatalogFolder folder(statedDigests);
  for (auto _ : state) {
    const CatalogLoad load = loadCatalog(folder.path());
    if (load.problem || load.catalog.releases().size() != RELEASES) {
      state.SkipWithError("the catalog was refused");
      return;
    }
    benchmark::DoNotOptimize(load.catalog.releases().data());
  }
}

void loadStated(benchmark::State& state) { loadFolder(state, true); }
void loadComputed(benchmark::State& state) { loadFolder(state, false); }

void digest(benchmark::State& state, int engine) {
  const auto buffer = sampleBuffer(MIB, 1);
  for (auto _ : state) {
    if (engine < 0) {
      unsigned char out[EVP_MAX_MD_SIZE];
      unsigned int size = 0;
      EVP_Digest(buffer.data(), buffer.size(), out, &size, EVP_sha256(), nullptr);
      benchmark::DoNotOptimize(out);
    } else {
      benchmark::DoNotOptimize(sha256Digest(buffer, static_cast<Sha256Engine>(engine)));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MIB));
}

void shaExtensions(benchmark::State& state) {
  if (fastestSha256Engine() != Sha256Engine::shaExtensions) {
    state.SkipWithError("no SHA extensions on this processor");
    return;
  }
  digest(state, static_cast<int>(Sha256Engine::shaExtensions));
}
void portable(benchmark::State& state) { digest(state, static_cast<int>(Sha256Engine::portable)); }
void openssl(benchmark::State& state) { digest(state, -1); }

}  // namespace

BENCHMARK(loadStated)->Name("loadCatalog/200/stated")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(loadComputed)
    ->Name("loadCatalog/200/computed")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(shaExtensions)->Name("sha256/extensions/1MiB");
BENCHMARK(portable)->Name("sha256/portable/1MiB");
BENCHMARK(openssl)->Name("sha256/openssl/1MiB");

BENCHMARK_MAIN();
