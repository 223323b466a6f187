// The Windows backend of folder listing and path resolving, where the
// catalog meets it: names of files and folders, nothing for a missing
// folder, and a file's resolved path under its folder's.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/directory.h"

namespace {

TEST(DirectoryWindows, ListsAndResolves) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "tovrin-directory-test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "sub");
  std::ofstream(folder / "a.json") << "{}";
  std::ofstream(folder / "sub" / "fw.bin") << "x";
  const std::string path = folder.string();

  auto names = listDirectory(path.c_str());
  ASSERT_TRUE(names);
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"a.json", "sub"}));
  EXPECT_FALSE(listDirectory((path + "\\none").c_str()));

  const auto resolvedFolder = resolvedPath(path.c_str());
  const auto resolvedFile = resolvedPath((path + "/sub/../sub/fw.bin").c_str());
  ASSERT_TRUE(resolvedFolder);
  ASSERT_TRUE(resolvedFile);
  EXPECT_EQ(*resolvedFile, *resolvedFolder + PATH_SEPARATOR + "sub" + PATH_SEPARATOR + "fw.bin");
  EXPECT_FALSE(resolvedPath((path + "\\none.bin").c_str()));
  std::filesystem::remove_all(folder);
}

}  // namespace
