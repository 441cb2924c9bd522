#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "test_support.h"

namespace {

const std::string kFolder = QM_FIXTURE_DIR;
const std::string kFile = kFolder + "/libQmFixture.so";
constexpr char kChildMark[] = "QM_FIXTURE_SEARCH_CHILD";

using AnswerFunction = int (*)();

int answer_of(const DynamicLibrary& library) {
  auto* answer = reinterpret_cast<AnswerFunction>(library.symbol("qm_fixture_answer"));
  return answer ? answer() : -1;
}

bool is_loaded(const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

}  // namespace

TEST(DynamicLibrary, MapsWindowsNamesToSharedObjects) {
  EXPECT_EQ("libkx_pboc.so", DynamicLibrary::mapName("kx_pboc.dll"));
  EXPECT_EQ("/opt/x/libWltRS.so", DynamicLibrary::mapName("/opt/x/WltRS.dll"));
  EXPECT_EQ("libWltRS.so", DynamicLibrary::mapName("WltRS"));
  EXPECT_EQ("libWltRS.so", DynamicLibrary::mapName("WltRS.DLL"));
  EXPECT_EQ("/a.dll/libb.so", DynamicLibrary::mapName("/a.dll/b"));
  EXPECT_EQ("libfoo.so", DynamicLibrary::mapName("libfoo.so"));
  EXPECT_EQ("/usr/lib/libfoo.so.1.2", DynamicLibrary::mapName("/usr/lib/libfoo.so.1.2"));
  EXPECT_EQ("libx.sox.so", DynamicLibrary::mapName("x.sox"));
}

TEST(DynamicLibrary, LoadsByPathAndByDllName) {
  for (const std::string& name : {kFile, kFolder + "/QmFixture.dll", kFolder + "/QmFixture.Dll"}) {
    bool loaded = false;
    DynamicLibrary library(name.c_str(), &loaded);
    EXPECT_TRUE(loaded) << name;
    EXPECT_EQ(42, answer_of(library)) << name;
    EXPECT_EQ(nullptr, library.symbol("qm_fixture_missing"));
    EXPECT_EQ(nullptr, library.symbol(nullptr));
  }
}

TEST(DynamicLibrary, UnloadsOnDestruction) {
  {
    DynamicLibrary library(kFile.c_str(), nullptr);
    EXPECT_TRUE(is_loaded(kFile));
  }
  EXPECT_FALSE(is_loaded(kFile));
}

TEST(DynamicLibrary, MissingOrEmptyPathsNeverLoad) {
  for (const char* path : {"", "/nonexistent/QmFixture.dll", "QmNoSuchLibrary"}) {
    bool loaded = true;
    DynamicLibrary library(path, &loaded);
    EXPECT_FALSE(loaded) << path;
    EXPECT_EQ(nullptr, library.symbol("qm_fixture_answer"));
    // dlopen of "" would have handed back the program itself.
    EXPECT_EQ(nullptr, library.symbol("main"));
  }
  bool loaded = true;
  DynamicLibrary null_path(nullptr, &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(nullptr, null_path.symbol("main"));
  DynamicLibrary no_flag(kFile.c_str(), nullptr);
  EXPECT_EQ(42, answer_of(no_flag));
}

TEST(DynamicLibrary, BareNameGoesThroughTheSearchPath) {
  // The loader reads LD_LIBRARY_PATH once at start, so the check runs in a
  // fresh copy of this program started with it set.
  bool loaded = false;
  DynamicLibrary library("QmFixture", &loaded);
  if (std::getenv(kChildMark)) {
    EXPECT_TRUE(loaded);
    EXPECT_EQ(42, answer_of(library));
    return;
  }
  EXPECT_FALSE(loaded);  // not on the default search path

  EXPECT_EQ(0, run_test_in_child("DynamicLibrary.BareNameGoesThroughTheSearchPath",
                                  {"LD_LIBRARY_PATH=" + kFolder, std::string(kChildMark) + "=1"}));
}
