// CheckDll on a system where "secur32.dll" cannot be loaded: this program runs
// with WINEDLLOVERRIDES="secur32=d", which makes its load fail with 126.
#include <gtest/gtest.h>

#include <winternl.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "support/session.h"

extern "C" UINT __stdcall CheckDll(MSIHANDLE install);

namespace {

using namespace kvca::test;

// The loader's notification of every module loaded or unloaded in this process.
struct LoaderNotice {
  ULONG flags;
  const UNICODE_STRING* fullName;
  const UNICODE_STRING* baseName;
  void* base;
  ULONG size;
};
using LoaderCallback = void(CALLBACK*)(ULONG reason, const LoaderNotice* notice, void* context);
using RegisterFunction = LONG(NTAPI*)(ULONG flags, LoaderCallback callback, void* context, void** cookie);
using UnregisterFunction = LONG(NTAPI*)(void* cookie);

const ULONG kLoaded = 1;

// Records the base names of the modules loaded while it lives.
class LoadRecorder {
 public:
  LoadRecorder() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto registerNotice = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    unregister_ = reinterpret_cast<UnregisterFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnregisterDllNotification")));
    if (registerNotice && unregister_) registerNotice(0, &LoadRecorder::Notice, this, &cookie_);
  }
  ~LoadRecorder() {
    if (cookie_) unregister_(cookie_);
  }
  bool Listening() const { return cookie_ != nullptr; }
  const std::vector<std::wstring>& loaded() const { return loaded_; }

 private:
  static void CALLBACK Notice(ULONG reason, const LoaderNotice* notice, void* context) {
    if (reason != kLoaded) return;
    std::wstring name(notice->baseName->Buffer, notice->baseName->Length / sizeof(wchar_t));
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return towlower(c); });
    static_cast<LoadRecorder*>(context)->loaded_.push_back(name);
  }

  UnregisterFunction unregister_ = nullptr;
  void* cookie_ = nullptr;
  std::vector<std::wstring> loaded_;
};

class CheckDllWithoutSecur32 : public SessionTest {
 protected:
  CheckDllWithoutSecur32() {
    Sql(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (6666, 'Cannot load [2]: [3]')");
  }
};

TEST_F(CheckDllWithoutSecur32, ReportsTheFirstLibraryThatFailsAndStopsThere) {
  MSIHANDLE install = Session();
  for (const wchar_t* library : {L"winscard.dll", L"setupapi.dll", L"secur32.dll"})
    ASSERT_EQ(nullptr, GetModuleHandleW(library)) << library << " is already loaded here";

  UINT result;
  std::vector<std::wstring> loaded;
  {
    LoadRecorder recorder;
    ASSERT_TRUE(recorder.Listening());
    result = CheckDll(install);
    loaded = recorder.loaded();
  }

  EXPECT_EQ(static_cast<UINT>(ERROR_MOD_NOT_FOUND), result);
  ASSERT_EQ(1u, captured_.size());
  const Message& record = captured_[0];
  EXPECT_EQ(INSTALLMESSAGE_ERROR, record.type);
  ASSERT_EQ(4u, record.fields.size());
  EXPECT_EQ(L"Cannot load [2]: [3]", record.Text(0)) << "field 0 was empty";
  EXPECT_EQ(6666, record.Integer(1));
  EXPECT_EQ(L"secur32.dll", record.Text(2));
  EXPECT_TRUE(record.fields[3].isInteger);
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, record.Integer(3));

  // The two before it were loaded in order and freed again. Whether
  // "crypt32.dll" was tried cannot be seen here: Wine's msi.dll imports it, so
  // it is loaded in every process that runs an installation.
  const auto winscard = std::find(loaded.begin(), loaded.end(), L"winscard.dll");
  const auto setupapi = std::find(loaded.begin(), loaded.end(), L"setupapi.dll");
  EXPECT_TRUE(winscard < setupapi && setupapi != loaded.end());
  EXPECT_EQ(nullptr, GetModuleHandleW(L"winscard.dll"));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"));
}

}  // namespace
