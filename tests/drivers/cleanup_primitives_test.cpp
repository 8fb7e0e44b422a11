#include <gtest/gtest.h>

#include <shlwapi.h>

#include "drivers/cleanup_actions.h"
#include "drivers/driver_package.h"
#include "frame/handles.h"
#include "frame/registry.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca;
using namespace kvca::test;

// A unique key right below SOFTWARE, so that the climb is seen to stop there.
class RegistryCleanup : public ::testing::Test {
 protected:
  void TearDown() override { SHDeleteKeyW(HKEY_LOCAL_MACHINE, top_.c_str()); }
  void SetValue(const std::wstring& key, const wchar_t* name) {
    RegKey opened;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, opened.put(), nullptr));
    WriteRegString(opened.get(), name, L"v");
  }

  std::wstring top_ = L"SOFTWARE\\" + UniqueName(L"kvca_keys_");
  ConsoleLog log_;
  ConsoleProgressSink sink_{log_.stream()};
};

TEST_F(RegistryCleanup, TheLastValueTakesItsEmptyKeysAlong) {
  const std::wstring leaf = top_ + L"\\A\\B";
  SetValue(leaf, L"Start");
  SetValue(leaf, L"");  // the default value
  RemoveRegistryAction action(sink_, true);

  EXPECT_EQ(0u, action.Apply(HKEY_LOCAL_MACHINE, leaf, L"Start"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, leaf));
  EXPECT_EQ(0u, action.Apply(HKEY_LOCAL_MACHINE, leaf, L""));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, top_));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE"));

  SetLastError(0);
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), action.Apply(HKEY_LOCAL_MACHINE, leaf, L"Start"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  const std::vector<std::string> expected = {
      "KSInstall64:info: Empty key '" + Narrow(leaf) + "' removed.",
      "KSInstall64:info: Empty key '" + Narrow(top_) + "\\A' removed.",
      "KSInstall64:info: Empty key '" + Narrow(top_) + "' removed.",
  };
  EXPECT_EQ(expected, log_.Lines());
}

TEST_F(RegistryCleanup, TheClimbStopsAtAKeyThatStillHoldsSomething) {
  SetValue(top_ + L"\\A\\B", L"Start");
  SetValue(top_ + L"\\A", L"Keep");
  SetValue(top_ + L"\\Sibling", L"Keep");
  RemoveEmptyKeys(HKEY_LOCAL_MACHINE, top_ + L"\\A", sink_);  // not empty: nothing happens
  RemoveRegistryAction(sink_, true).Apply(HKEY_LOCAL_MACHINE, top_ + L"\\A\\B", L"Start");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, top_ + L"\\A"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, top_ + L"\\A\\B"));
  EXPECT_EQ((std::vector<std::string>{"KSInstall64:info: Empty key '" + Narrow(top_) + "\\A\\B' removed."}),
            log_.Lines());
}

TEST(RemoveFileTest, DeletesOrFindsNothingToDelete) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"plain.dat");
  CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr));
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  EXPECT_TRUE(RemoveFile(path.c_str(), sink));  // read-only is no obstacle
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(RemoveFile(path.c_str(), sink));
  EXPECT_EQ(0u, RemoveFileAction(sink, true).Apply(path.c_str()));
  const std::string missing = "KSInstall64:info: No files to remove: " + Narrow(path);
  EXPECT_EQ((std::vector<std::string>{missing, missing}), log.Lines());
}

// A handle without FILE_SHARE_DELETE blocks deleting and renaming alike: the
// file stays, and so does the empty csp*.tmp made for the move.
TEST(RemoveFileTest, FailsWhenTheFileCannotBeMovedEither) {
  ScratchFolder folder;
  const std::wstring path = folder.File(L"locked.dat");
  FileHandle locked(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(locked.valid());
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), RemoveFileAction(sink, true).Apply(path.c_str()));
  locked.reset();
  EXPECT_TRUE(FileExists(path));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("KSInstall64:info: File:" + Narrow(path) + " couldn't be deleted.", lines[0]);
  const std::string moveFailed = "KSInstall64:info: MoveFileEx from file:" + Narrow(path) + " to " +
                                 Narrow(folder.path()) + "\\csp";
  EXPECT_EQ(moveFailed, lines[1].substr(0, moveFailed.size())) << lines[1];
  EXPECT_EQ(".tmp fail.", lines[1].substr(lines[1].size() - 10));
  EXPECT_EQ(L"csp", FolderListing(folder.path()).substr(FolderListing(folder.path()).find(L"csp"), 3));
}

}  // namespace
