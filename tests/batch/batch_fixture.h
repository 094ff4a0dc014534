// A batch on a temporary drive with the scriptable suite: builds the request,
// the options and the file list, runs Halvex and reads back what happened.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "halvex/filelist.h"
#include "halvex/halvex.h"
#include "halvex/records.h"
#include "batch/state.h"
#include "platform/wide.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_drive.h"

namespace halvex::test {

namespace fakes = halvex::fakes;

inline std::string Utf8(const WString& text) { return halvex::platform::ToUtf8(text); }

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::Reset();
    drive.Write("Temp/.keep", "");
    fakes::script().tempFolder = drive.Path("Temp\\");
  }
  void TearDown() override { fakes::Reset(); }

  // A list of library paths for the relative names, in order.
  void SetList(const std::vector<std::string>& names) {
    std::vector<WString> paths;
    for (const std::string& name : names) paths.push_back(drive.Path(name));
    SetListPaths(paths);
  }
  void SetListPaths(const std::vector<WString>& paths) {
    storage_ = paths;
    storage_.push_back(WString());  // the host's terminator
    std::vector<WCHAR*> pointers;
    for (WString& s : storage_) pointers.push_back(s.data());
    list = std::make_unique<CFileList>(pointers.data());
  }

  void Run(uint32_t type) {
    if (!list) SetList({});
    request.dwType = type;
    request.pwszPassword = password.c_str();
    request.pFileList = list.get();
    request.pOptions = &options;
    Halvex(&request);
  }

  // Names of the output entries, relative to the drive ("Docs\a.txt.qelmenc").
  std::vector<std::string> Outputs() const { return Relative(list->m_vecOutFiles); }
  std::vector<std::string> Inputs() const { return Relative(list->m_vecFiles); }

  std::vector<std::string> Relative(const std::vector<WString>& paths) const {
    const std::string root = Utf8(drive.Path());
    std::vector<std::string> out;
    for (const WString& p : paths) {
      std::string s = Utf8(p);
      out.push_back(s.rfind(root, 0) == 0 ? s.substr(root.size()) : s);
    }
    return out;
  }

  // Every batch ends with its window released and no key held.
  void ExpectClosedDown() const {
    EXPECT_EQ(fakes::LiveCipherKeys(), 0);
    EXPECT_EQ(fakes::LiveStoreKeys(), 0);
    EXPECT_EQ(fakes::BadFrees(), 0);
    EXPECT_EQ(State().hProgress, nullptr);
    EXPECT_EQ(State().bCancel, 0);
  }

  static fakes::CipherStep Fail(uint32_t code) {
    fakes::CipherStep step;
    step.code = code;
    step.write = false;
    return step;
  }
  static fakes::CipherStep Succeed() { return fakes::CipherStep{}; }

  TempDrive drive;
  WString password = WTEXT("correct horse");
  tagCRYPTOOPTIONS options{};
  tagCRYPTOPARAMS request{};
  std::unique_ptr<CFileList> list;

 private:
  std::vector<WString> storage_;
};

}  // namespace halvex::test
