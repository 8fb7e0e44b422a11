#include <gtest/gtest.h>

#include <shlwapi.h>

#include "drivers/cleanup_actions.h"
#include "drivers/driver_package.h"
#include "drivers/driver_registry.h"
#include "drivers/inf_cleanup.h"
#include "drivers/inf_install.h"
#include "frame/handles.h"
#include "frame/registry.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca;
using namespace kvca::test;

class BrokenInf : public ::testing::Test {
 protected:
  void SetUp() override {
    UINT errorLine = 0;
    inf_.reset(SetupOpenInfFileW(package_.infPath().c_str(), nullptr, INF_STYLE_WIN4, &errorLine));
    ASSERT_TRUE(inf_.valid());
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, package_.SettingsKey().c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, settings_.put(), nullptr));
    for (const wchar_t* name : {L"Good", L"Unwalked", L"AfterTwoFields", L"AfterUnknown"})
      WriteRegString(settings_.get(), name, L"1");
  }
  void TearDown() override {
    settings_.reset();
    SHDeleteKeyW(HKEY_LOCAL_MACHINE, package_.SettingsKey().c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KvTest");
  }
  std::string Line(const char* text) const {
    std::string line = text;
    const std::string name = Narrow(package_.name());
    for (size_t at = line.find("NAME"); at != std::string::npos; at = line.find("NAME", at + name.size()))
      line.replace(at, 4, name);
    return line;
  }

  TestDriverPackage package_{L"broken.inf"};
  InfHandle inf_;
  RegKey settings_;
  ConsoleLog log_;
  ConsoleProgressSink sink_{log_.stream()};
};

// Errors ignored: a faulty line ends only its own section, and only the first
// section of each AddReg line is walked. Without an AddService line the
// event-log part is skipped after its error.
TEST_F(BrokenInf, RegistryWalkGoesOnPastFaultySections) {
  RemoveRegistryAction action(sink_, true);
  EXPECT_EQ(0u, RemoveInfRegistry(inf_.get(), action, package_.name()));
  EXPECT_EQ(L"AfterTwoFields|AfterUnknown|Unwalked", ValueNames(HKEY_LOCAL_MACHINE, package_.SettingsKey()));

  const std::vector<std::string> expected = {
      Line("KSInstall64:info: RemoveRegistryAction section:'NAME.Good'."),
      Line("KSInstall64:info: RemoveRegistryAction. 'HKLM\\SOFTWARE\\KvTest\\NAME\\Good'."),
      Line("KSInstall64:info: RemoveRegistryAction success."),
      Line("KSInstall64:error 0x0: Invalid abbriviation."),
      Line("KSInstall64:info: Error ignored."),
      Line("KSInstall64:info: RemoveRegistryAction section:'NAME.TwoFields'."),
      Line("KSInstall64:error 0x0: SetupGetStringField."),
      Line("KSInstall64:info: Error ignored."),
      Line("KSInstall64:info: RemoveRegistryAction section:'NAME.UnknownRoot'."),
      Line("KSInstall64:error 0x0: Invalid abbriviation."),
      Line("KSInstall64:info: Error ignored."),
      Line("KSInstall64:error 0xE0000102: SetupFindFirstLine('DefaultInstall.Services',AddService)."),
  };
  std::vector<std::string> lines = log_.Lines();
  // The error codes are whatever SetupAPI left; compare the texts.
  ASSERT_EQ(expected.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(expected[i].substr(expected[i].find(": ")), lines[i].substr(lines[i].find(": "))) << i;
}

// Only the first section of a CopyFiles line is queued, so only its files are deleted.
TEST_F(BrokenInf, FileWalkTakesTheFirstSectionOfEachLine) {
  const std::wstring first = package_.Target(L".first");
  const std::wstring second = package_.Target(L".second");
  for (const std::wstring& path : {first, second})
    CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

  FileQueueHandle queue = BuildFileQueue(WindowsFolder(L"inf\\"), inf_.get(), sink_);
  ASSERT_TRUE(queue.valid());
  RemoveFileAction action(sink_, true);
  DWORD result = 0;
  EXPECT_TRUE(SetupScanFileQueueW(queue.get(), SPQ_SCAN_USE_CALLBACK, nullptr, RemoveQueuedFile, &action, &result));
  EXPECT_FALSE(FileExists(first));
  EXPECT_TRUE(FileExists(second));
  DeleteFileW(second.c_str());

  const std::vector<std::string> expected = {
      "KSInstall64:info: Build file queue.",
      Line("KSInstall64:info: Add section 'NAME.First'."),
      "KSInstall64:info: Build file queue success.",
      Line("KSInstall64:info: Start RemoveFileAction for file:'") + Narrow(first) + "'.",
      "KSInstall64:info: RemoveFileAction success.",
  };
  EXPECT_EQ(expected, log_.Lines());
}

// Installation stops before anything is changed when the INF names no service.
TEST_F(BrokenInf, InstallWithoutAddServiceChangesNothing) {
  const std::wstring infFolder = FolderListing(WindowsFolder(L"inf"));
  EXPECT_EQ(static_cast<UINT>(ERROR_INSTALL_FAILURE),
            InstallInfDriver(package_.infPath(), package_.componentId(), nullptr, 0, sink_));
  EXPECT_EQ(infFolder, FolderListing(WindowsFolder(L"inf")));
  EXPECT_EQ(L"<missing>", InfLocation(package_.componentId()));
  const std::vector<std::string> lines = log_.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("SetupFindFirstLine('DefaultInstall.Services',AddService).",
            lines[lines.size() - 2].substr(lines[lines.size() - 2].find(": ") + 2));
  EXPECT_EQ("GetServiceName.", lines.back().substr(lines.back().find(": ") + 2));
}

}  // namespace
