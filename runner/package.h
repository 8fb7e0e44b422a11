// The package kvca-run opens: a copy of a given package or a scratch package,
// a temporary file deleted with its owner.
#pragma once

#include <windows.h>

#include <string>

namespace kvca::run {

class TemporaryPackage {
 public:
  TemporaryPackage() = default;
  TemporaryPackage(const TemporaryPackage&) = delete;
  TemporaryPackage& operator=(const TemporaryPackage&) = delete;
  ~TemporaryPackage();

  // A copy of `source`, so that the session never changes the file itself.
  UINT CopyOf(const std::wstring& source);
  // Every *.idt of `tablesFolder` (none when empty), then the base rows
  // the folder did not bring: product properties and the Error rows the
  // library sends.
  UINT Scratch(const std::wstring& tablesFolder);

  const std::wstring& path() const { return path_; }

 private:
  UINT MakeName();
  std::wstring path_;
};

}  // namespace kvca::run
