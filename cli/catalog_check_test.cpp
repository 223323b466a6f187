// The release catalog in the loader's runs: its refusals' lines, the
// refusal of a file that is no release (through the entry and the
// sessions, in this process: a refused run opens no socket), and
// --manifest as a user runs it.
#include "cli/catalog_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/entry.h"
#include "testkit/expected.h"
#include "testkit/process.h"
#include "testkit/scratch_folder.h"

namespace {

TEST(CatalogCheck, ProblemLines) {
  using F = CatalogFault;
  const auto line = [](CatalogFault fault, ManifestFault manifestFault = ManifestFault::none,
                       ImageError imageError = ImageError::none) {
    return catalogProblemLine({.fault = fault,
                               .manifest = "cat/a.json",
                               .manifestFault = manifestFault,
                               .field = "models",
                               .imageError = imageError,
                               .other = "cat/b.json"});
  };
  const std::string at = "\nERROR: Catalog manifest cat/a.json: ";
  const std::pair<std::string, std::string> cases[] = {
      {line(F::cantList), "\nERROR: Can't read the catalog folder cat/a.json"},
      {line(F::cantRead), at + "can't be read"},
      {line(F::tooLarge), at + "larger than 1 MiB"},
      {line(F::badManifest, ManifestFault::notJson), at + "not valid JSON"},
      {line(F::badManifest, ManifestFault::notAnObject), at + "not a JSON object"},
      {line(F::badManifest, ManifestFault::missingField), at + "the field \"models\" is missing"},
      {line(F::badManifest, ManifestFault::wrongType),
       at + "the field \"models\" is of the wrong type"},
      {line(F::badManifest, ManifestFault::badValue), at + "the field \"models\" has a bad value"},
      {line(F::badManifest, ManifestFault::unknownField), at + "the field \"models\" is unknown"},
      {line(F::fileOutside), at + "its file is outside the catalog folder"},
      {line(F::fileMissing), at + "its file does not exist"},
      {line(F::fileUnusable, {}, ImageError::cantOpen), at + "its file can't be read"},
      {line(F::fileUnusable, {}, ImageError::empty), at + "its file is empty"},
      {line(F::fileUnusable, {}, ImageError::tooSmall),
       at + "its file is too small for a firmware header"},
      {line(F::fileUnusable, {}, ImageError::tooLarge),
       at + "its file is too large for the loader"},
      {line(F::sha256Differs), at + "its file's SHA-256 is not the one stated"},
      {line(F::duplicateVersion), at + "the same version as cat/b.json"},
      {line(F::duplicateSha256), at + "the same sha256 as cat/b.json"},
      {line(F::duplicateDigest), at + "the same drive digest as cat/b.json"},
  };
  for (const auto& [written, expected] : cases) {
    EXPECT_EQ(written, expected);
  }
}

// A run as the entry does it, with the sessions of the loader: the text it
// writes and its exit status.
struct EntryRun {
  std::string out;
  int status = 0;
};

EntryRun runInProcess(const std::vector<std::string>& args, const char* catalogVariable) {
  std::vector<std::string> arguments = {"tovrin"};
  arguments.insert(arguments.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : arguments) {
    argv.push_back(word.data());
  }
  const int argc = static_cast<int>(argv.size());
  const CommandLine line =
      withCatalogFromEnvironment(readCommandLine(argc, argv.data()), catalogVariable);
  EntryRun run;
  {
    ConsoleWriter writer([&run](std::string_view text) {
      run.out += text;
      return true;
    });
    RunOutput out(writer);
    const InterruptWatch interrupts;
    const NetworkActions network{
        .discovery =
            [] {
              ADD_FAILURE() << "discovery";
              return false;
            },
        .sessions = [&] { return runSessions(line.settings, out, argc, argv.data(), interrupts); },
    };
    run.status = dispatch(line, out, network);
    out.endRun(false, [] { return false; });
  }
  return run;
}

// A file that is no release is refused before anything is sent; a release
// passes to the run's next step (here a record file that can't be opened,
// so that nothing is sent either). The drive is on loopback, should a
// fault let the run go on.
TEST(CatalogCheck, OnlyReleasesAreProgrammedOrVerified) {
  ScratchFolder folder;
  folder.release("4.2");
  const std::string other = folder.path("other.bin");
  writeFile(other, sampleFile(1000, 77));
  const std::string catalog = folder.path();
  const std::string release = folder.path("fw-4.2.bin");
  const std::string noRecords = folder.path("none/rec.jsonl");
  const std::string notRelease = "\nERROR: " + other + " is not a release in the catalog";
  const std::string badRecords = "\nERROR: Can't open the record file " + noRecords;
  const struct {
    std::vector<std::string> args;
    const char* variable;
    std::string text;
    int status;
  } cases[] = {
      {{"--catalog", catalog, "-ip", "127.0.0.9", "-fp", other, "-e"}, nullptr, notRelease, 2},
      {{"-ip", "127.0.0.9", "-v", "-fp", other}, catalog.c_str(), notRelease, 1},
      {{"-ip", "127.0.0.9,127.0.0.10", "-fp", other, "-e"}, catalog.c_str(), notRelease, 2},
      {{"-ip", "127.0.0.9", "-fp", release, "-r", noRecords, "-e"}, catalog.c_str(), badRecords, 2},
      // the option wins over the variable
      {{"--catalog", catalog, "-ip", "127.0.0.9", "-fp", release, "-r", noRecords, "-e"},
       "/nonexistent",
       badRecords,
       2},
      {{"-ip", "127.0.0.9", "-fp", release, "-e"},
       "/nonexistent",
       "\nERROR: Can't read the catalog folder /nonexistent",
       2},
      {{"-ip", "127.0.0.9", "-fp", release, "-e"},
       "",
       "\nERROR: You must specify catalog folder",
       2},
      {{"-ip", "127.0.0.9", "-fp", folder.path("none.bin"), "-e"},
       catalog.c_str(),
       "\nERROR: Can't open file " + folder.path("none.bin") + "\r\n",
       2},
  };
  for (const auto& c : cases) {
    const EntryRun run = runInProcess(c.args, c.variable);
    EXPECT_EQ(run.out, BANNER + c.text) << testing::PrintToString(c.args);
    EXPECT_EQ(run.status, c.status) << testing::PrintToString(c.args);
  }
}

// --manifest: JSON alone on standard output, status 0; a file that can't
// be read is refused as -fp's file is.
TEST(CatalogCheck, ManifestForAFile) {
  ScratchFolder folder;
  const std::string bytes = sampleFile(3000);
  writeFile(folder.path("kv-4.2.bin"), bytes);
  std::vector<std::string> argv = tovrinCommand();
  argv.insert(argv.end(), {"--manifest", folder.path("kv-4.2.bin")});
  ProcessResult r = runProcess(argv, std::chrono::seconds(20));
  EXPECT_EQ(r.out, asConsoleBytes("{\n"
                                  "  \"version\": \"\",\n"
                                  "  \"file\": \"kv-4.2.bin\",\n"
                                  "  \"sha256\": \"" +
                                  hex(sha256(bytes)) +
                                  "\",\n"
                                  "  \"driveDigest\": \"" +
                                  hex(md5(expectedImage(bytes).substr(20))) +
                                  "\",\n"
                                  "  \"models\": [],\n"
                                  "  \"hardwareRevisions\": [],\n"
                                  "  \"currentRatings\": [],\n"
                                  "  \"minMonitorRevision\": null,\n"
                                  "  \"notes\": \"\"\n"
                                  "}\n"));
  EXPECT_EQ(r.exitCode, 0);
  for (const auto& [outcome, status] : {std::pair{"", 1}, {"-e", 2}}) {
    argv = tovrinCommand();
    argv.insert(argv.end(), {"--manifest", folder.path("none.bin")});
    if (*outcome != '\0') {
      argv.emplace_back(outcome);
    }
    r = runProcess(argv, std::chrono::seconds(20));
    EXPECT_EQ(r.out,
              asConsoleBytes("\nERROR: Can't open file " + folder.path("none.bin") + "\r\n"));
    EXPECT_EQ(r.exitCode, status);
  }
}

}  // namespace
