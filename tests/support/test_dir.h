// A directory of the test's own, empty, under the system's temporary directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <string_view>

// Makes "vorlith-KIND-PID-TEST" empty (removing what an earlier run left there) and returns it.
inline std::filesystem::path freshTestDirectory(std::string_view kind) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("vorlith-" + std::string(kind) + "-" + std::to_string(::getpid()) + "-" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}
