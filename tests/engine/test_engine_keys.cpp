// Preparing and releasing the keys of a batch, and copies of the engine.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine_fixture.h"
#include "suite/zqkm.h"

namespace halvex::test {
namespace {

using KeysTest = EngineTest;

struct KeyCase {
  const char* name;
  uint32_t type;
  bool password;
  int32_t keySource;
  size_t transcodes;
  size_t storeLookups;
};

TEST_F(KeysTest, EachTypePreparesItsKeysAndReleasesThemOnce) {
  const KeyCase cases[] = {
      {"type 0 with password", 0, true, KEYS_PASSWORD_AND_STORE, 1, 1},
      {"type 0 without password", 0, false, KEYS_RANDOM_AND_STORE, 0, 1},
      {"type 1 with password", 1, true, KEYS_PASSWORD_ONLY, 1, 0},
      {"type 1 without password", 1, false, KEYS_PASSWORD_ONLY, 0, 0},
      {"type 2 without password", 2, false, KEYS_PASSWORD_ONLY, 0, 0},
      {"type 3 with password", 3, true, KEYS_PASSWORD_ONLY, 1, 0},
      {"type 4 without password", 4, false, KEYS_PASSWORD_ONLY, 0, 0},
      {"type 5 with password", 5, true, KEYS_PASSWORD_ONLY, 1, 0},
      {"type 6 without password", 6, false, KEYS_PASSWORD_ONLY, 0, 0},
  };
  UseTempFolder();
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::Reset();
    UseTempFolder();
    auto& request = Request(c.type, c.password ? WTEXT("secret") : nullptr, {"a.bin"});
    ASSERT_EQ(engine().InitCrypto(&request), 0u);
    EXPECT_EQ(request.dwErrCode, 0u);
    EXPECT_EQ(engine().m_nKeySource, c.keySource);
    EXPECT_EQ(engine().m_dwKeyLen, 24u);
    EXPECT_EQ(fakes::CountOf("ZQCA_PasswordTranscodeW"), c.transcodes);
    EXPECT_EQ(fakes::CountOf("ZQKM_GetKeyFromKeyStore"), c.storeLookups);
    if (c.type == 0) {
      EXPECT_NE(engine().m_pSecondKey, nullptr);
      EXPECT_NE(engine().m_pFirstKey, engine().m_pSecondKey);
      if (!c.password) {
        EXPECT_EQ(engine().m_pFirstKey, engine().m_byRandKey);
      }
      EXPECT_EQ(engine().m_bSelfExtract, 0);
    } else {
      EXPECT_EQ(engine().m_pSecondKey, engine().m_pFirstKey);
      EXPECT_EQ(engine().m_pFirstKey == nullptr, !c.password);
      EXPECT_EQ(engine().m_bSelfExtract, 1);
    }

    engine().UninitCrypto();
    EXPECT_EQ(engine().m_pFirstKey, nullptr);
    EXPECT_EQ(engine().m_pSecondKey, nullptr);
    EXPECT_EQ(fakes::LiveCipherKeys(), 0);
    EXPECT_EQ(fakes::LiveStoreKeys(), 0);
    EXPECT_EQ(fakes::BadFrees(), 0);
    const size_t frees = fakes::CallNames("ZQ").size();
    engine().UninitCrypto();
    EXPECT_EQ(fakes::CallNames("ZQ").size(), frees) << "a second release freed something";
  }
}

TEST_F(KeysTest, PasswordIsTranscodedWithItsLengthInCodeUnits) {
  auto& request = Request(0, WTEXT("p\u00e4ss\U0001F511"), {"a.bin"});
  ASSERT_EQ(engine().InitCrypto(&request), 0u);
  auto call = fakes::CallsOf("ZQCA_PasswordTranscodeW").at(0);
  EXPECT_EQ(call.args[1], "6");  // 4 characters, the last one a surrogate pair
  EXPECT_EQ(call.args[2], "24");
  EXPECT_EQ(engine().m_strPassword, WString(WTEXT("p\u00e4ss\U0001F511")));
}

TEST_F(KeysTest, TranscodeErrorEndsSetupAndLeavesTheKeyForRelease) {
  fakes::script().transcodeError = 1330;
  auto& request = Request(0, WTEXT("secret"), {"a.bin"});
  EXPECT_EQ(engine().InitCrypto(&request), 1330u);
  EXPECT_EQ(request.dwErrCode, 1330u);
  EXPECT_EQ(engine().m_nKeySource, KEYS_PASSWORD_AND_STORE);
  EXPECT_EQ(engine().m_pSecondKey, nullptr);
  EXPECT_EQ(fakes::CountOf("ZQKM_GetKeyFromKeyStore"), 0u);
  EXPECT_EQ(engine().GetFesErrCode(), 0u);
  EXPECT_EQ(engine().GetApiErrCode(), 0u);
  engine().UninitCrypto();
  EXPECT_EQ(fakes::LiveCipherKeys(), 0);
  EXPECT_EQ(fakes::BadFrees(), 0);
}

TEST_F(KeysTest, KeyStoreErrorsEndSetupWithOneReportedAsThree) {
  const struct {
    uint32_t storeError;
    bool password;
    uint32_t expected;
  } cases[] = {{ZQKM_ERR_UNAVAILABLE, true, 3}, {ZQKM_ERR_UNAVAILABLE, false, 3}, {ZQKM_ERR_CREATE, true, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.storeError);
    fakes::Reset();
    fakes::script().keystoreError = c.storeError;
    auto& request = Request(0, c.password ? WTEXT("pw") : nullptr, {"a.bin"});
    request.dwErrCode = 77;
    EXPECT_EQ(engine().InitCrypto(&request), c.expected);
    EXPECT_EQ(request.dwErrCode, c.expected);
    engine().UninitCrypto();
    EXPECT_EQ(fakes::LiveCipherKeys(), 0);
    EXPECT_EQ(fakes::LiveStoreKeys(), 0);
    EXPECT_EQ(fakes::BadFrees(), 0);
  }
}

TEST_F(KeysTest, SuccessLeavesTheHostsErrorCodeAlone) {
  auto& request = Request(0, WTEXT("pw"), {"a.bin"});
  request.dwErrCode = 1234;
  ASSERT_EQ(engine().InitCrypto(&request), 0u);
  EXPECT_EQ(request.dwErrCode, 1234u);
}

TEST_F(KeysTest, SelfExtractingEncryptionSwitchesTheWindowKind) {
  const struct {
    uint32_t selfExtract, action;
    int32_t kind, flag;
  } cases[] = {{1, 1, PROGRESS_ENC_SELFX, 1}, {1, 0, PROGRESS_DEC, 0}, {0, 1, PROGRESS_DEC, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.selfExtract << "/" << c.action);
    engine().UninitCrypto();
    options.bSelfExtract = c.selfExtract;
    options.dwAction = c.action;
    engine().m_nOutputKind = PROGRESS_DEC;
    auto& request = Request(0, WTEXT("pw"), {"a.bin"});
    ASSERT_EQ(engine().InitCrypto(&request), 0u);
    EXPECT_EQ(engine().m_nOutputKind, c.kind);
    EXPECT_EQ(engine().m_bSelfExtract, c.flag);
  }
}

TEST_F(KeysTest, RandomKeyIsStrongAndCoversTheFullByteRange) {
  std::array<BYTE, kKeyLen> first{};
  engine().GenerateRandKey();
  std::memcpy(first.data(), engine().m_byRandKey, kKeyLen);
  engine().GenerateRandKey();
  EXPECT_NE(std::memcmp(first.data(), engine().m_byRandKey, kKeyLen), 0);

  // 4800 random bytes all below 255 happen with a probability near 1e-8.
  bool saw255 = false;
  for (int i = 0; i < 200 && !saw255; ++i) {
    engine().GenerateRandKey();
    saw255 = std::count(engine().m_byRandKey, engine().m_byRandKey + kKeyLen, BYTE{255}) > 0;
  }
  EXPECT_TRUE(saw255);
}

TEST_F(KeysTest, ReleasingTheRandomKeyWipesIt) {
  auto& request = Request(0, nullptr, {"a.bin"});
  ASSERT_EQ(engine().InitCrypto(&request), 0u);
  engine().UninitCrypto();
  EXPECT_TRUE(std::all_of(engine().m_byRandKey, engine().m_byRandKey + kKeyLen, [](BYTE b) { return b == 0; }));
}

TEST_F(KeysTest, RequestWithoutPasswordForgetsTheEarlierPassword) {
  auto& first = Request(1, WTEXT("earlier"), {"a.bin"});
  ASSERT_EQ(engine().InitCrypto(&first), 0u);
  engine().UninitCrypto();
  auto& second = Request(1, nullptr, {"a.bin"});
  ASSERT_EQ(engine().InitCrypto(&second), 0u);
  EXPECT_TRUE(engine().m_strPassword.empty());
}

TEST_F(KeysTest, MessageBatchesGetAFolderOfTheirOwnUnderTheirName) {
  const WString temp = UseTempFolder();
  const struct {
    uint32_t type;
    const char* parent;
  } cases[] = {{3, "WLM\\"}, {4, "YAH\\"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    engine().UninitCrypto();
    engine().m_FESUtil.m_strMsgSubFolder.clear();
    auto& request = Request(c.type, WTEXT("pw"), {"a.bin"});
    ASSERT_EQ(engine().InitCrypto(&request), 0u);
    const WString folder = engine().m_FESUtil.m_strMsgSubFolder;
    const WString prefix = temp + W(c.parent);
    EXPECT_EQ(folder.substr(0, prefix.size()), prefix) << U8(folder);
    EXPECT_EQ(folder.back(), WTEXT('\\'));
    EXPECT_EQ(fakes::CountOf("ZQKM_GetKeyFromKeyStore"), 0u);
  }
}

TEST_F(KeysTest, MessageBatchWithoutAnyFolderFailsWithCannotMake) {
  // No temporary folder: no new message folder can be made.
  auto& request = Request(3, WTEXT("pw"), {"a.bin"});
  EXPECT_EQ(engine().InitCrypto(&request), 82u);
  EXPECT_EQ(request.dwErrCode, 82u);
  engine().UninitCrypto();
  EXPECT_EQ(fakes::LiveCipherKeys(), 0);

  // With a folder kept from an earlier batch the batch goes on there.
  engine().m_FESUtil.m_strMsgSubFolder = drive.Path("Tmp\\WLM\\7\\");
  auto& again = Request(4, WTEXT("pw"), {"a.bin"});
  EXPECT_EQ(engine().InitCrypto(&again), 0u);
  EXPECT_EQ(engine().m_FESUtil.m_strMsgSubFolder, drive.Path("Tmp\\WLM\\7\\"));
}

TEST_F(KeysTest, CopiesShareLibraryKeysButNotTheRandomKeyBuffer) {
  auto& request = Request(0, nullptr, {"a.bin"});
  ASSERT_EQ(engine().InitCrypto(&request), 0u);
  auto original = std::make_unique<CCryptoFile>(engine());
  CCryptoFile copy(*original);
  CCryptoFile assigned;
  assigned = *original;
  for (CCryptoFile* c : {&copy, &assigned}) {
    EXPECT_EQ(c->m_pSecondKey, engine().m_pSecondKey);
    EXPECT_EQ(c->m_pFirstKey, c->m_byRandKey);
    EXPECT_EQ(std::memcmp(c->m_byRandKey, engine().m_byRandKey, kKeyLen), 0);
  }
  original.reset();
  // Still readable after its source is gone (the sanitizers would object otherwise).
  EXPECT_EQ(std::memcmp(copy.m_pFirstKey, engine().m_byRandKey, kKeyLen), 0);

  copy.UninitCrypto();  // only one of them releases the shared stored key
  EXPECT_EQ(fakes::LiveStoreKeys(), 0);
  engine().m_pSecondKey = nullptr;
  EXPECT_EQ(fakes::BadFrees(), 0);
}

}  // namespace
}  // namespace halvex::test
