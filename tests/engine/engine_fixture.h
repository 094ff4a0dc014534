// Shared set-up of the engine tests: a temporary drive C:, the scripted suite
// and a request over a list of files on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "halvex/filelist.h"
#include "halvex/records.h"
#include "batch/frame.h"
#include "batch/state.h"
#include "engine/cryptofile.h"
#include "platform/wide.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_drive.h"

namespace halvex::test {

namespace fakes = halvex::fakes;

inline std::string U8(const WString& text) { return halvex::platform::ToUtf8(text); }
inline WString W(const std::string& text) { return halvex::platform::Widen(text); }

// One scripted cipher answer: its code, what the output buffer receives
// (default: the fake's own naming), whether a file is written (or a partial
// left on failure), and the decryption flag.
inline fakes::CipherStep Step(uint32_t code, std::optional<WString> output = std::nullopt, bool write = true,
                              std::optional<uint8_t> flag = std::nullopt) {
  fakes::CipherStep step;
  step.code = code;
  step.output = std::move(output);
  step.write = write;
  step.flag = flag;
  return step;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::Reset();
    BatchState& s = State();
    s.cryptoFile = CCryptoFile();
    // The engine works for the batch, as it does inside Halvex.
    LinkEngineToBatch(s.cryptoFile);
    s.bCancel = s.bHiddenAnswerKept = s.bReplaceAnswerKept = s.bOnVaultDrive = 0;
    s.vecRemaining.clear();
  }
  void TearDown() override {
    engine().UninitCrypto();
    State().cryptoFile = CCryptoFile();
    fakes::Reset();
  }

  CCryptoFile& engine() { return State().cryptoFile; }

  // A request of type over rel paths on the drive (written as "Docs/a.bin").
  tagCRYPTOPARAMS& Request(uint32_t type, const WCHAR* password, const std::vector<std::string>& rel) {
    paths_.clear();
    for (const auto& r : rel) paths_.push_back(drive.Path(r));
    paths_.push_back(WString());
    std::vector<WCHAR*> raw;
    for (auto& p : paths_) raw.push_back(p.data());
    list_ = std::make_unique<CFileList>(raw.data());
    request_ = tagCRYPTOPARAMS{};
    request_.dwType = type;
    request_.pwszPassword = password;
    request_.pFileList = list_.get();
    request_.pOptions = &options;
    return request_;
  }

  // Prepares the engine as a driver would, after its window set the kind.
  void Prepare(tagCRYPTOPARAMS& request, int32_t progressKind) {
    engine().m_nOutputKind = progressKind;
    ASSERT_EQ(engine().InitCrypto(&request), 0u);
  }

  // The suite's temporary folder, C:\Tmp\.
  WString UseTempFolder() {
    std::filesystem::create_directories(drive.Native("Tmp"));
    fakes::script().tempFolder = drive.Path("Tmp\\");
    return fakes::script().tempFolder;
  }

  TempDrive drive;
  tagCRYPTOOPTIONS options{};

 private:
  std::vector<WString> paths_;
  std::unique_ptr<CFileList> list_;
  tagCRYPTOPARAMS request_{};
};

}  // namespace halvex::test
