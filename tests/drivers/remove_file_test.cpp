#include <gtest/gtest.h>


#include "drivers/cleanup_actions.h"
#include "drivers/driver_package.h"
#include "frame/handles.h"

namespace {

using namespace kvca;
using namespace kvca::test;

// A read-only file is deleted; a missing one counts as removed. A handle
// without FILE_SHARE_DELETE blocks deleting and renaming alike: the file
// stays, and so does the empty csp*.tmp made for the move.
TEST(RemoveFileTest, DeletesWhatItCanAndReportsWhatItCannot) {
  ScratchFolder folder;
  const std::wstring plain = folder.File(L"plain.dat");
  const std::wstring path = folder.File(L"locked.dat");
  CloseHandle(CreateFileW(plain.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr));
  FileHandle locked(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ConsoleLog log;
  ConsoleProgressSink sink(log.stream());

  EXPECT_TRUE(RemoveFile(plain.c_str(), sink));
  EXPECT_FALSE(FileExists(plain));
  EXPECT_EQ(0u, RemoveFileAction(sink, true).Apply(plain.c_str()));
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE), RemoveFileAction(sink, true).Apply(path.c_str()));
  locked.reset();
  EXPECT_TRUE(FileExists(path));
  const std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("KSInstall64:info: No files to remove: " + Narrow(plain), lines[0]);
  EXPECT_EQ("KSInstall64:info: File:" + Narrow(path) + " couldn't be deleted.", lines[1]);
  const std::string moveFailed =
      "KSInstall64:info: MoveFileEx from file:" + Narrow(path) + " to " + Narrow(folder.path()) + "\\csp";
  EXPECT_EQ(moveFailed, lines[2].substr(0, moveFailed.size())) << lines[2];
  EXPECT_EQ(".tmp fail.", lines[2].substr(lines[2].size() - 10));
}

}  // namespace
