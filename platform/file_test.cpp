// Appends that can't be written whole leave the file as it was: on a full
// file system (a tiny tmpfs in a mount namespace of the test's own) and on
// /dev/full.
#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "testkit/process.h"

namespace {

// Fills the file system that holds dir until it takes no byte more.
void fill(const std::string& dir) {
  const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string page(4096, 'x');
  while (::write(fd, page.data(), page.size()) > 0) {
  }
  while (::write(fd, "x", 1) > 0) {
  }
  ::close(fd);
}

// The checks of a full file system, run in a child that has a mount
// namespace of its own, so the tmpfs goes with it. The exit code says
// which check failed (0: all held).
int appendToAFullFileSystem(const std::string& dir) {
  if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tovrin-test", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
    return 10;
  }
  const std::string path = dir + "/rec.jsonl";
  const std::string first = "{\"first\":1}\n";
  const AppendFile file = openAppendFile(path.c_str());
  if (!appendToFile(file, first)) {
    return 11;
  }
  fill(dir);
  // The record's page has room for part of a long line, not for all of it:
  // the system takes a part, and the append cuts it back.
  if (appendToFile(file, "{\"long\":\"" + std::string(6000, 'y') + "\"}\n")) {
    return 12;
  }
  if (readFile(path) != first) {
    return 13;
  }
  // A line that fits is appended whole after the last whole one.
  if (!appendToFile(file, "{\"second\":2}\n") || readFile(path) != first + "{\"second\":2}\n") {
    return 14;
  }
  closeAppendFile(file);
  return 0;
}

TEST(AppendFileTest, AFullFileSystemKeepsWholeLinesOnly) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root for a file system of the test's own";
  }
  ScratchDir dir;
  EXPECT_EXIT(std::_Exit(appendToAFullFileSystem(dir.path)), testing::ExitedWithCode(0), "");
}

TEST(AppendFileTest, DevFullRefusesEveryAppend) {
  const AppendFile file = openAppendFile("/dev/full");
  ASSERT_NE(file, APPEND_FILE_NONE);
  EXPECT_FALSE(appendToFile(file, "{\"a\":1}\n"));
  EXPECT_FALSE(appendToFile(file, "x"));
  closeAppendFile(file);
}

}  // namespace
