// Hostile stored names: encrypted files that are authentic (made and sealed
// with the right key) but whose stored name tries to leave the folder or is
// not one plain file name. A decryption batch must refuse each, keep the
// encrypted file, and write nothing anywhere: not beside it, not above it,
// not in the temporary folder.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "platform/paths.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/format.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/metadata.h"
#include "tests/reliability/observer.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

namespace fmt = cipher::format;
constexpr uint32_t kFesDecryptFailed = 1302;

// Every file under root with its size, for before/after comparison; but the
// settings' state file, which notes each time a password opened a file.
// (Folders are left out: the temporary folder is made when first used.)
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string item = entry.path().lexically_relative(root).string();
    if (item == "state.ini" || entry.is_directory()) continue;
    tree.insert(item + " " + std::to_string(entry.file_size()));
  }
  return tree;
}

class HostileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    cipher::ClearTranscodeCache();
    NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
    uint32_t error = 0;
    WString password = Password();
    key_ = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), 24, &error);
    ASSERT_EQ(error, 0u);
  }
  void TearDown() override { ZQCA_FreeMemory(key_); }

  // An encrypted file of content under the password, its stored name then
  // replaced by name and everything sealed again, as someone holding the
  // key could do.
  std::string Forge(const std::string& name, const std::string& content) {
    WriteFile(env_.Root() / "stage" / "plain.bin", content);
    setenv("HALVEX_DRIVES", ("C=" + env_.Drive().string() + ";S=" + (env_.Root() / "stage").string()).c_str(), 1);
    platform::ReloadDriveMap();
    std::array<WCHAR, MAX_PATH> destination{};
    WString target = WTEXT("S:\\made.hvx");
    std::copy(target.begin(), target.end(), destination.begin());
    WString source = WTEXT("S:\\plain.bin");
    EXPECT_EQ(ZQCA_DualPasswordFileEncryptW(source.c_str(), destination.data(), key_, nullptr, 24, false, nullptr),
              ZQCA_OK);
    std::string made = ReadFile(env_.Root() / "stage" / "made.hvx");
    fs::remove_all(env_.Root() / "stage");
    env_.Export();
    return Reseal(made, name);
  }

  std::string Reseal(const std::string& file, const std::string& name) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    fmt::Header header;
    size_t length = *fmt::HeaderLength({bytes, fmt::kPrefixSize});
    EXPECT_EQ(fmt::Parse({bytes, length}, header), fmt::ParseResult::kOk);
    std::array<uint8_t, 32> fileKey{}, bodyKey{};
    EXPECT_TRUE(cipher::keys::UnwrapSlot(header, 0, {key_, 24}, fileKey));
    EXPECT_TRUE(cipher::keys::BodyKey(fileKey, bodyKey));
    const std::array<uint8_t, 32> oldMac = header.mac;
    std::vector<uint8_t> records, sealedMetadata;
    EXPECT_TRUE(cipher::metadata::Open(fileKey, header, {bytes + length, header.metadataLength}, records));
    header.name = name;
    EXPECT_TRUE(cipher::keys::HeaderMac(fileKey, header, header.mac));
    std::vector<uint8_t> out = fmt::Serialise(header);
    EXPECT_TRUE(cipher::metadata::Seal(fileKey, header, records, sealedMetadata));
    out.insert(out.end(), sealedMetadata.begin(), sealedMetadata.end());
    cipher::crypto::Aead aead;
    EXPECT_TRUE(aead.Init(static_cast<cipher::crypto::AeadId>(header.aead), bodyKey));
    size_t at = length + sealedMetadata.size();
    const uint64_t count = fmt::ChunkCount(header.size, header.chunkSize);
    for (uint32_t i = 0; i < count; ++i) {
      size_t plain = std::min<size_t>(header.chunkSize, file.size() - at - 16);
      std::vector<uint8_t> chunk(bytes + at, bytes + at + plain + 16);
      auto nonce = fmt::ChunkNonce(header, i, i + 1 == count);
      std::span<uint8_t> data(chunk.data(), plain), tag(chunk.data() + plain, 16);
      EXPECT_TRUE(aead.Open(nonce, oldMac, data, tag));
      EXPECT_TRUE(aead.Seal(nonce, header.mac, data, tag));
      out.insert(out.end(), chunk.begin(), chunk.end());
      at += plain + 16;
    }
    return {out.begin(), out.end()};
  }

  SuiteEnvironment env_;
  BYTE* key_ = nullptr;
};

struct Hostile {
  const char* what;
  std::string name;
};

const std::vector<Hostile>& HostileList() {
  static const std::vector<Hostile> list = {
      {"parent folder", ".."},
      {"this folder", "."},
      {"up and across, POSIX", "../x"},
      {"up and across, Windows", "..\\x"},
      {"deep escape", "../../../../etc/cron.d/x"},
      {"absolute POSIX path", "/tmp/x"},
      {"backslash inside", "a\\b"},
      {"drive-relative", "C:x"},
      {"drive-absolute", "C:\\x"},
      {"empty", ""},
      {"control character", std::string("a\x01" "b")},
      {"newline", "a\nb"},
      {"delete character", "a\x7f"},
      {"300 characters", std::string(300, 'n')},
      {"not UTF-8", "\xff\xfe"},
  };
  return list;
}

// Each hostile file is refused alone, in place and into the temporary folder;
// the one honest file beside them still comes out, so the batch went on.
TEST_F(HostileNames, RefusedAndNothingIsWrittenAnywhere) {
  for (bool toTemp : {false, true}) {
    SCOPED_TRACE(toTemp ? "into the temporary folder" : "in place");
    fs::remove_all(env_.Drive() / "box");
    std::vector<WString> list;
    for (size_t i = 0; i < HostileList().size(); ++i) {
      const std::string file = "box/in/f" + std::to_string(i) + ".qelmenc";
      WriteFile(env_.Drive() / file, Forge(HostileList()[i].name, "payload " + std::to_string(i)));
      list.push_back(SuiteEnvironment::Path(file));
    }
    WriteFile(env_.Drive() / "box/in/honest.qelmenc", Forge("honest.txt", "fine"));
    list.push_back(SuiteEnvironment::Path("box/in/honest.qelmenc"));

    RunBatch({}, 0, Password(), toTemp);  // lets the suite make its folders first
    std::set<std::string> before = Tree(env_.Root());
    ReportedFailures().clear();
    BatchResult result = RunBatch(list, 0, Password(), toTemp);

    EXPECT_EQ(result.succeeded, 1u);
    ASSERT_EQ(ReportedFailures().size(), HostileList().size());
    for (size_t i = 0; i < HostileList().size(); ++i) {
      EXPECT_EQ(ReportedFailures()[i].fes, kFesDecryptFailed) << HostileList()[i].what;
      EXPECT_EQ(ReportedFailures()[i].api, ZQCA_ERR_UNSAFE_NAME) << HostileList()[i].what;
    }
    // The only change anywhere: the honest file restored, its source gone
    // unless it went to the temporary folder.
    std::set<std::string> after = Tree(env_.Root());
    std::set<std::string> added, removed;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                        std::inserter(removed, removed.end()));
    ASSERT_EQ(added.size(), 1u) << ::testing::PrintToString(added);
    EXPECT_NE(added.begin()->find("honest.txt 4"), std::string::npos) << *added.begin();
    if (toTemp) {
      EXPECT_TRUE(removed.empty());
    } else {
      EXPECT_EQ(added, std::set<std::string>{"drive/box/in/honest.txt 4"});
      ASSERT_EQ(removed.size(), 1u);
      EXPECT_EQ(removed.begin()->rfind("drive/box/in/honest.qelmenc ", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace halvex::reliability
