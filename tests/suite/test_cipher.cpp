// The cipher library's behaviour through its C interface: round trips, keys,
// names, existing outputs, progress and cancel, locks, busy sources, and the
// password transcoding with its cache.
#include <gcrypt.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "halvex/host.h"
#include "suite/cipher/stubs.h"
#include "suite/keystore/keystore.h"
#include "tests/suite/cipher_test_support.h"

namespace halvex::test {
namespace {

const WString kPassword = WTEXT("correct horse battery");

class CipherRoundTrip : public CipherTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(CipherRoundTrip, RestoresContentNameAndTimeByteForByte) {
  const std::string content = Pattern(GetParam());
  drive_.Write("in/report.txt", content);
  struct timespec times[2] = {{0, UTIME_OMIT}, {1'500'000'000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, drive_.Native("in/report.txt").c_str(), times, 0), 0);
  std::filesystem::create_directories(drive_.Native("out"));
  PasswordKey key(kPassword);

  CallResult enc = Encrypt(drive_.Path("in/report.txt"), drive_.Path("in/report.hvx"), key.get(),
                           StoredKey().data());
  ASSERT_EQ(enc.code, ZQCA_OK);
  EXPECT_EQ(enc.buffer, drive_.Path("in/report.hvx"));
  EXPECT_EQ(drive_.Read("in/report.txt"), content);  // the source is untouched
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive_.Path("in/report.hvx").c_str()));

  CallResult dec = Decrypt(drive_.Path("in/report.hvx"), drive_.Path("out"), WString(), StoredKey().data());
  ASSERT_EQ(dec.code, ZQCA_OK);
  EXPECT_EQ(dec.buffer, drive_.Path("out/report.txt"));
  EXPECT_EQ(dec.flag, 0);
  EXPECT_TRUE(drive_.Read("out/report.txt") == content);
  struct stat st{};
  ASSERT_EQ(stat(drive_.Native("out/report.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'500'000'000);
  EXPECT_EQ(Listing(drive_.Native("out")), std::vector<std::string>{"report.txt"});
}

INSTANTIATE_TEST_SUITE_P(Sizes, CipherRoundTrip,
                         ::testing::Values(0, 1, 65535, 65536, 65537, 3 * 65536 + 17));

// Outputs are private while written; a restored file gets its source's mode
// back (whatever the umask), so a private file never comes back readable to all.
TEST_F(CipherTest, RestoredFilesKeepTheSourceModeAndEncryptedOnesArePrivate) {
  for (mode_t mode : {0600, 0644, 0640, 0400, 0755, 0000}) {
    const std::string dir = "m" + std::to_string(mode) + "/";
    drive_.Write(dir + "a.txt", "mode");
    ASSERT_EQ(chmod(drive_.Native(dir + "a.txt").c_str(), mode), 0);
    ASSERT_EQ(Encrypt(drive_.Path(dir + "a.txt"), drive_.Path(dir + "a.hvx"), nullptr, StoredKey().data()).code, 0u);
    std::filesystem::create_directories(drive_.Native(dir + "out"));
    ASSERT_EQ(Decrypt(drive_.Path(dir + "a.hvx"), drive_.Path(dir + "out"), WString(), StoredKey().data()).code, 0u);
    struct stat enc{}, dec{};
    ASSERT_EQ(stat(drive_.Native(dir + "a.hvx").c_str(), &enc) | stat(drive_.Native(dir + "out/a.txt").c_str(), &dec), 0);
    EXPECT_EQ(enc.st_mode & 07777, 0600u);
    EXPECT_EQ(dec.st_mode & 07777, mode);
  }
}

// libgcrypt's own pool polls for entropy on every request, a dozen system
// calls per file of a batch; the choice of generator only holds if made
// before libgcrypt's version check, so a reordering would silently undo it.
TEST_F(CipherTest, RandomNumbersComeFromTheSystemGenerator) {
  drive_.Write("a.txt", "x");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  int type = 0;
  ASSERT_EQ(gcry_control(GCRYCTL_GET_CURRENT_RNG_TYPE, &type), 0);
  EXPECT_EQ(type, GCRY_RNG_TYPE_SYSTEM);
}

// 100 MiB streamed through both directions; compared block by block.
TEST_F(CipherTest, RoundTripOfHundredMebibytes) {
  constexpr size_t kBlock = 1 << 20, kBlocks = 100;
  {
    std::ofstream out(drive_.Native("big.bin"), std::ios::binary);
    for (size_t i = 0; i < kBlocks; ++i) {
      std::string block = Pattern(kBlock, static_cast<unsigned>(i));
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  std::filesystem::create_directories(drive_.Native("out"));
  ASSERT_EQ(Encrypt(drive_.Path("big.bin"), drive_.Path("big.hvx"), nullptr, StoredKey().data()).code,
            ZQCA_OK);
  ASSERT_EQ(Decrypt(drive_.Path("big.hvx"), drive_.Path("out\\"), WString(), StoredKey().data()).code,
            ZQCA_OK);
  std::ifstream a(drive_.Native("big.bin"), std::ios::binary), b(drive_.Native("out/big.bin"), std::ios::binary);
  std::string x(kBlock, '\0'), y(kBlock, '\0');
  for (size_t i = 0; i < kBlocks; ++i) {
    a.read(x.data(), kBlock);
    b.read(y.data(), kBlock);
    ASSERT_EQ(a.gcount(), b.gcount());
    ASSERT_TRUE(x == y) << "block " << i;
  }
  b.peek();
  EXPECT_TRUE(b.eof());
}

struct KeyCase {
  const char* name;
  bool encPassword, encStored;  // keys given to encryption
  bool decPassword;             // password given to decryption
  const BYTE* decSecond;        // second key given to decryption
  uint32_t code;
  BYTE flag;
  std::vector<const BYTE*> ring = {};  // the user's key store, the first key encrypting
  std::vector<int> recipients = {};    // Identity(i)'s public keys the file is encrypted to
  bool recipientsOnly = false;
  std::vector<int> identities = {};    // Identity(i) given to decryption
};

cipher::X25519Key Identity(int i) {
  cipher::X25519Key k{};
  for (size_t j = 0; j < k.size(); ++j) k[j] = static_cast<uint8_t>(0x31 * (i + 1) + j);
  return k;
}

// The host's recipients and identities hold for the process: set for one
// test, cleared after it whatever happens.
struct HostKeys {
  HostKeys(const std::vector<int>& recipients, bool only, const std::vector<int>& identities) {
    std::vector<cipher::X25519Key> keys(recipients.size());
    for (size_t i = 0; i < recipients.size(); ++i) EXPECT_TRUE(cipher::PublicKeyOf(Identity(recipients[i]), keys[i]));
    EXPECT_TRUE(cipher::SetRecipients(keys, only));
    for (int i : identities) EXPECT_TRUE(cipher::AddIdentity(Identity(i)));
  }
  ~HostKeys() {
    cipher::SetRecipients({}, false);
    cipher::ClearIdentities();
  }
};

// A key store of the single-key layout holding key.
std::string KeyFileOf(const BYTE* key) {
  std::string file = std::string("HALVEXKS\x01") + std::string(reinterpret_cast<const char*>(key), 24);
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, file.data(), file.size());
  return file + std::string(reinterpret_cast<char*>(digest), 16);
}

class CipherKeys : public CipherTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(CipherKeys, OpensOnlyWithAGivenKey) {
  const KeyCase& c = GetParam();
  drive_.Write("plan.doc", "plans");
  std::filesystem::create_directories(drive_.Native("out"));
  const std::string store = drive_.Native("keystore");
  setenv("HALVEX_KEYSTORE", store.c_str(), 1);
  for (const BYTE* k : c.ring) {
    drive_.Write("one-key", KeyFileOf(k));
    ASSERT_EQ(keystore::Import(drive_.Native("one-key"), std::nullopt), keystore::Status::kOk);
  }
  PasswordKey key(kPassword);
  {
    HostKeys sender(c.recipients, c.recipientsOnly, {});
    ASSERT_EQ(Encrypt(drive_.Path("plan.doc"), drive_.Path("plan.hvx"), c.encPassword ? key.get() : nullptr,
                      c.encStored ? StoredKey().data() : nullptr)
                  .code,
              ZQCA_OK);
  }
  HostKeys receiver({}, false, c.identities);
  CallResult dec = Decrypt(drive_.Path("plan.hvx"), drive_.Path("out"),
                           c.decPassword ? kPassword : WTEXT("wrong password"), c.decSecond);
  EXPECT_EQ(dec.code, c.code);
  EXPECT_EQ(dec.flag, c.flag);
  if (c.code == ZQCA_OK) {
    EXPECT_EQ(drive_.Read("out/plan.doc"), "plans");
  } else {
    EXPECT_TRUE(dec.buffer.empty());
    EXPECT_TRUE(Listing(drive_.Native("out")).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CipherKeys,
    ::testing::Values(
        KeyCase{"PasswordOnlyOpensWithPassword", true, false, true, nullptr, ZQCA_OK, 1},
        KeyCase{"PasswordOnlyWrongPassword", true, false, false, nullptr, ZQCA_ERR_WRONG_KEY, 0},
        KeyCase{"PasswordOnlyWrongSecondKey", true, false, false, OtherKey().data(), ZQCA_ERR_WRONG_KEY, 0},
        KeyCase{"StoredOnlyOpensWithStored", false, true, false, StoredKey().data(), ZQCA_OK, 0},
        KeyCase{"StoredOnlyIgnoresPassword", false, true, true, OtherKey().data(), ZQCA_ERR_WRONG_KEY, 0},
        KeyCase{"BothOpenWithStored", true, true, false, StoredKey().data(), ZQCA_OK, 0},
        KeyCase{"BothOpenWithPassword", true, true, true, OtherKey().data(), ZQCA_OK, 1},
        KeyCase{"BothPreferStored", true, true, true, StoredKey().data(), ZQCA_OK, 0},
        KeyCase{"BothWrong", true, true, false, OtherKey().data(), ZQCA_ERR_WRONG_KEY, 0},
        // The key store's other keys open files of their own identifier...
        KeyCase{"StoredOpensWithTheRing", false, true, false, OtherKey().data(), ZQCA_OK, 0,
                {OtherKey().data(), StoredKey().data()}},
        // ...but only for a stored key given, never for a password's.
        KeyCase{"RingNotForAnotherKey", false, true, false, OtherKey().data(), ZQCA_ERR_WRONG_KEY, 0,
                {StoredKey().data()}},
        // A file for recipients opens with an identity alone, on another key
        // store; for the recipients only, the sender's keys do not open it.
        KeyCase{"RecipientOpensWithIdentityAlone", true, true, false, OtherKey().data(), ZQCA_OK, 0, {}, {0}, true, {0}},
        KeyCase{"EachOfTwoRecipientsOpens", true, true, false, OtherKey().data(), ZQCA_OK, 0, {}, {0, 1}, true, {1}},
        KeyCase{"WrongIdentity", true, true, false, OtherKey().data(), ZQCA_ERR_WRONG_KEY, 0, {}, {0, 1}, true, {2}},
        KeyCase{"RecipientsOnlyKeepTheSenderOut", true, true, true, StoredKey().data(), ZQCA_ERR_WRONG_KEY, 0, {},
                {0}, true, {2}},
        KeyCase{"RecipientBesideThePassword", true, true, true, OtherKey().data(), ZQCA_OK, 1, {}, {0}, false, {2}},
        KeyCase{"IdentityBesideThePassword", true, true, false, OtherKey().data(), ZQCA_OK, 0, {}, {0}, false, {0}}),
    [](const auto& info) { return std::string(info.param.name); });

// The text forms refuse what is not exactly a key of their kind, so a line
// cut, mistyped or pasted into the wrong place is an error, not a key.
TEST(CipherTextForms, LinesRoundTripAndDamagedOnesAreRefused) {
  cipher::X25519Key publicKey{};
  ASSERT_TRUE(cipher::PublicKeyOf(Identity(0), publicKey));
  const std::string recipient = cipher::RecipientText(publicKey), identity = cipher::IdentityText(Identity(0));
  EXPECT_EQ(cipher::ParseRecipient(" " + recipient + "\r\n"), publicKey);
  EXPECT_EQ(cipher::ParseIdentity(identity), Identity(0));
  std::string typo = recipient, upper = recipient, tail = recipient;
  typo[20] = typo[20] == 'a' ? 'b' : 'a';
  for (size_t i = 7; i < upper.size(); ++i) upper[i] = static_cast<char>(toupper(upper[i]));
  tail.back() = tail.back() == 'a' ? 'q' : 'a';  // the padding bits, or the checksum
  for (const std::string& bad : {typo, upper, tail, recipient.substr(0, recipient.size() - 1), recipient + "a",
                                 identity, std::string("halvex1"), std::string()})
    EXPECT_FALSE(cipher::ParseRecipient(bad)) << bad;
  std::string lower = identity;
  for (size_t i = 19; i < lower.size(); ++i) lower[i] = static_cast<char>(tolower(lower[i]));
  for (const std::string& bad : {lower, recipient, identity.substr(1)}) EXPECT_FALSE(cipher::ParseIdentity(bad)) << bad;

  std::vector<const char*> lines(cipher::kMaxRecipients + 1, recipient.c_str());
  EXPECT_EQ(HalvexSetRecipients(lines.data(), lines.size(), HALVEX_RECIPIENTS_ONLY), HALVEX_INVALID_ARGUMENT);
  const char* mixed[] = {recipient.c_str(), identity.c_str()};
  EXPECT_EQ(HalvexSetRecipients(mixed, 2, HALVEX_RECIPIENTS_ONLY), HALVEX_INVALID_ARGUMENT);
  EXPECT_EQ(HalvexAddIdentity(recipient.c_str()), HALVEX_INVALID_ARGUMENT);
}

// Batch types hand the transcoded password as both keys: one slot, and the
// second key alone opens it without a derivation.
TEST_F(CipherTest, SameKeyTwiceOpensWithEither) {
  drive_.Write("a.txt", "a");
  PasswordKey key(kPassword);
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), key.get(), key.get()).code, ZQCA_OK);
  std::filesystem::create_directories(drive_.Native("o1"));
  std::filesystem::create_directories(drive_.Native("o2"));
  uint64_t runs = cipher::KdfRunCount();
  EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("o1"), kPassword, key.get()).code, ZQCA_OK);
  EXPECT_EQ(cipher::KdfRunCount(), runs);
  CallResult byPassword = Decrypt(drive_.Path("a.hvx"), drive_.Path("o2"), kPassword, nullptr);
  EXPECT_EQ(byPassword.code, ZQCA_OK);
  EXPECT_EQ(byPassword.flag, 1);
}

TEST_F(CipherTest, RefusesCallsWithoutKeysOrArguments) {
  drive_.Write("a.txt", "a");
  EXPECT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, nullptr).code, ZQCA_ERR_NO_KEY);
  EXPECT_FALSE(drive_.Exists("a.hvx"));
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("o"), WString(), nullptr).code, ZQCA_ERR_NO_KEY);
  EXPECT_EQ(Encrypt(drive_.Path("missing.txt"), drive_.Path("m.hvx"), nullptr, StoredKey().data()).code,
            ZQCA_ERR_NOT_FOUND);
  EXPECT_EQ(Decrypt(drive_.Path("a.txt"), drive_.Path(""), WString(), StoredKey().data()).code,
            ZQCA_ERR_NOT_ENCRYPTED);
}

TEST_F(CipherTest, ExistingOutputIsReportedNamedAndKept) {
  drive_.Write("a.txt", "new content");
  drive_.Write("a.hvx", "already here");
  CallResult enc = Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data());
  EXPECT_EQ(enc.code, ZQCA_ERR_OUTPUT_EXISTS);
  EXPECT_EQ(enc.buffer, drive_.Path("a.hvx"));
  EXPECT_EQ(drive_.Read("a.hvx"), "already here");

  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("b.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  drive_.Write("out/a.txt", "keep me");
  CallResult dec = Decrypt(drive_.Path("b.hvx"), drive_.Path("out"), WString(), StoredKey().data());
  EXPECT_EQ(dec.code, ZQCA_ERR_OUTPUT_EXISTS);
  EXPECT_EQ(dec.buffer, drive_.Path("out\\a.txt"));
  EXPECT_EQ(drive_.Read("out/a.txt"), "keep me");
  EXPECT_EQ(Listing(drive_.Native("out")), std::vector<std::string>{"a.txt"});
}

TEST_F(CipherTest, PathsBeyondTheLimitAreRefused) {
  drive_.Write("a.txt", "a");
  // The longest path, 259 characters, is accepted; its temporary name fits
  // because the folder is short.
  std::filesystem::create_directories(drive_.Native("ddd"));
  WString longName = drive_.Path("ddd\\" + std::string(248, 'n') + ".hvx");
  ASSERT_EQ(longName.size(), 259u);
  CallResult ok = Encrypt(drive_.Path("a.txt"), longName, nullptr, StoredKey().data());
  EXPECT_EQ(ok.code, ZQCA_OK);

  std::array<WCHAR, MAX_PATH> full;
  full.fill(u'x');  // no terminator within 260 characters
  EXPECT_EQ(ZQCA_DualPasswordFileEncryptW(drive_.Path("a.txt").c_str(), full.data(), nullptr,
                                          StoredKey().data(), 24, false, nullptr),
            ZQCA_ERR_PATH_TOO_LONG);

  std::string deep(245, 'd');
  std::filesystem::create_directories(drive_.Native(deep));
  CallResult tooDeep = Encrypt(drive_.Path("a.txt"), drive_.Path(deep + "\\a.hvx"), nullptr, StoredKey().data());
  EXPECT_EQ(tooDeep.code, ZQCA_ERR_PATH_TOO_LONG);  // the temporary name would not fit
  EXPECT_TRUE(tooDeep.buffer.empty());
  EXPECT_TRUE(Listing(drive_.Native(deep)).empty());
}

std::vector<int32_t> reported;
int32_t cancelAt = -1;

int32_t Record(int32_t percent) {
  reported.push_back(percent);
  return percent == cancelAt ? 1 : 0;
}

TEST_F(CipherTest, ProgressRisesByWholePercentsToHundred) {
  drive_.Write("a.bin", Pattern(40 * 65536 + 5));
  std::filesystem::create_directories(drive_.Native("out"));
  cancelAt = -1;
  for (bool decrypting : {false, true}) {
    reported.clear();
    CallResult r = decrypting
                       ? Decrypt(drive_.Path("a.hvx"), drive_.Path("out"), WString(), StoredKey().data(), Record)
                       : Encrypt(drive_.Path("a.bin"), drive_.Path("a.hvx"), nullptr, StoredKey().data(), false,
                                 Record);
    ASSERT_EQ(r.code, ZQCA_OK);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), 0);
    EXPECT_EQ(reported.back(), 100);
    EXPECT_TRUE(std::adjacent_find(reported.begin(), reported.end(),
                                   [](int32_t a, int32_t b) { return b <= a; }) == reported.end());
  }
}

TEST_F(CipherTest, CancelLeavesNothingBehind) {
  drive_.Write("src/a.bin", Pattern(20 * 65536));
  std::filesystem::create_directories(drive_.Native("enc"));
  std::filesystem::create_directories(drive_.Native("out"));
  cancelAt = 50;
  CallResult enc = Encrypt(drive_.Path("src/a.bin"), drive_.Path("enc/a.hvx"), nullptr, StoredKey().data(),
                           false, Record);
  EXPECT_EQ(enc.code, ZQCA_ERR_CANCELLED);
  EXPECT_TRUE(enc.buffer.empty());
  EXPECT_TRUE(Listing(drive_.Native("enc")).empty());

  cancelAt = -1;
  ASSERT_EQ(Encrypt(drive_.Path("src/a.bin"), drive_.Path("enc/a.hvx"), nullptr, StoredKey().data()).code,
            ZQCA_OK);
  cancelAt = 50;
  CallResult dec = Decrypt(drive_.Path("enc/a.hvx"), drive_.Path("out"), WString(), StoredKey().data(), Record);
  EXPECT_EQ(dec.code, ZQCA_ERR_CANCELLED);
  EXPECT_TRUE(dec.buffer.empty());
  EXPECT_TRUE(Listing(drive_.Native("out")).empty());
  cancelAt = -1;
}

TEST_F(CipherTest, SourceHeldElsewhereIsBusy) {
  drive_.Write("a.txt", "a");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  for (const char* held : {"a.txt", "a.hvx"}) {
    HANDLE h = CreateFileW(drive_.Path(held).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    if (std::string(held) == "a.txt") {
      EXPECT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("b.hvx"), nullptr, StoredKey().data()).code,
                ZQCA_ERR_SOURCE_BUSY);
      EXPECT_FALSE(drive_.Exists("b.hvx"));
    } else {
      EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("out"), WString(), StoredKey().data()).code,
                ZQCA_ERR_SOURCE_BUSY);
      EXPECT_EQ(ZQCA_LockFileW(drive_.Path("a.hvx").c_str()), ZQCA_ERR_SOURCE_BUSY);
    }
    CloseHandle(h);
  }
}

TEST_F(CipherTest, LockedFileRefusesDecryptionButStaysIntact) {
  drive_.Write("a.txt", "secret");
  drive_.Write("plain.txt", "plain");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  EXPECT_FALSE(ZQCA_CheckLockedFileW(drive_.Path("a.hvx").c_str()));
  EXPECT_EQ(ZQCA_LockFileW(drive_.Path("plain.txt").c_str()), ZQCA_ERR_NOT_ENCRYPTED);
  EXPECT_EQ(drive_.Read("plain.txt"), "plain");

  ASSERT_EQ(ZQCA_LockFileW(drive_.Path("a.hvx").c_str()), ZQCA_OK);
  EXPECT_TRUE(ZQCA_CheckLockedFileW(drive_.Path("a.hvx").c_str()));
  EXPECT_EQ(ZQCA_LockFileW(drive_.Path("a.hvx").c_str()), ZQCA_OK);  // locking twice is harmless
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive_.Path("a.hvx").c_str()));
  CallResult dec = Decrypt(drive_.Path("a.hvx"), drive_.Path("out"), WString(), StoredKey().data());
  EXPECT_EQ(dec.code, ZQCA_ERR_LOCKED);
  EXPECT_TRUE(dec.buffer.empty());
  EXPECT_FALSE(ZQCA_CheckLockedFileW(drive_.Path("plain.txt").c_str()));
}

// Locking writes one byte outside the checksum. Whichever part of an
// interrupted lock reached the disk, the file reads as locked or unlocked,
// never damaged; so do files locked by earlier releases, which renewed the
// checksum with the flag.
TEST_F(CipherTest, InterruptedLockLeavesTheFileLockedOrUnlocked) {
  drive_.Write("a.txt", "secret");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("v2.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  std::filesystem::copy_file(std::filesystem::path(HALVEX_CIPHER_TEST_DATA) / "v1-hello.hvx", drive_.Native("v1.hvx"));
  enum Torn { kFlagOnly, kChecksumOnly, kFlagAndChecksum };
  for (const char* file : {"v1.hvx", "v2.hvx"}) {
    for (Torn torn : {kFlagOnly, kChecksumOnly, kFlagAndChecksum}) {
      std::vector<uint8_t> bytes = ReadBytes(drive_.Native(file)), locked = bytes;
      const size_t sum = (bytes[12] | (bytes[13] << 8)) - 32;
      locked[10] |= 2;
      gcry_md_hash_buffer(GCRY_MD_SHA256, locked.data() + sum, locked.data(), sum);
      if (torn != kChecksumOnly) bytes[10] = locked[10];
      if (torn != kFlagOnly) std::copy(locked.begin() + sum, locked.begin() + sum + 32, bytes.begin() + sum);
      WriteBytes(drive_.Native("t.hvx"), bytes);
      std::filesystem::remove_all(drive_.Native("out"));
      std::filesystem::create_directories(drive_.Native("out"));
      CallResult r = Decrypt(drive_.Path("t.hvx"), drive_.Path("out"), WTEXT("halvex test vector"), StoredKey().data());
      EXPECT_EQ(r.code, torn == kChecksumOnly ? ZQCA_OK : ZQCA_ERR_LOCKED) << file << " case " << torn;
    }
  }
  // A lock of today changes the flag byte and nothing else.
  std::vector<uint8_t> before = ReadBytes(drive_.Native("v2.hvx"));
  ASSERT_EQ(ZQCA_LockFileW(drive_.Path("v2.hvx").c_str()), ZQCA_OK);
  std::vector<uint8_t> after = ReadBytes(drive_.Native("v2.hvx"));
  before[10] |= 2;
  EXPECT_TRUE(before == after);
}

TEST_F(CipherTest, SelfExtractingFilesCarryAStubAndATrailer) {
  drive_.Write("a.txt", Pattern(70000));
  drive_.Write("plain.txt", "not encrypted");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.exe"), nullptr, StoredKey().data(), true).code,
            ZQCA_OK);
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data(), false).code,
            ZQCA_OK);
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive_.Path("a.exe").c_str()));
  EXPECT_TRUE(ZQCA_CheckSelfExtractEncryptedFile(drive_.Path("a.exe").c_str()));
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive_.Path("a.hvx").c_str()));
  EXPECT_FALSE(ZQCA_CheckSelfExtractEncryptedFile(drive_.Path("a.hvx").c_str()));
  EXPECT_FALSE(ZQCA_CheckEncryptedFileW(drive_.Path("plain.txt").c_str()));
  EXPECT_FALSE(ZQCA_CheckSelfExtractEncryptedFile(drive_.Path("plain.txt").c_str()));
  EXPECT_FALSE(ZQCA_CheckEncryptedFileW(drive_.Path("missing").c_str()));
  // The program in front is the one new files get (Windows by default).
  auto stub = halvex::cipher::stubs::ForNewFile();
  EXPECT_EQ(drive_.Read("a.exe").rfind(std::string(stub.begin(), stub.end()), 0), 0u);
  EXPECT_EQ(drive_.Read("a.exe").substr(0, 2), "MZ");

  ASSERT_EQ(ZQCA_LockFileW(drive_.Path("a.exe").c_str()), ZQCA_OK);
  EXPECT_TRUE(ZQCA_CheckLockedFileW(drive_.Path("a.exe").c_str()));
  EXPECT_EQ(Decrypt(drive_.Path("a.exe"), drive_.Path("out"), WString(), StoredKey().data()).code,
            ZQCA_ERR_LOCKED);
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("b.exe"), nullptr, StoredKey().data(), true).code,
            ZQCA_OK);
  std::filesystem::create_directories(drive_.Native("out"));
  ASSERT_EQ(Decrypt(drive_.Path("b.exe"), drive_.Path("out"), WString(), StoredKey().data()).code, ZQCA_OK);
  EXPECT_TRUE(drive_.Read("out/a.txt") == Pattern(70000));
}

// ---- Password transcoding -------------------------------------------------

// Every transcoding has a salt of its own, so no table computed in advance
// serves two of them; each file records it, and the password alone opens
// every file, after the transcoding that made it is long gone.
TEST_F(CipherTest, EachTranscodingHasItsOwnSaltAndThePasswordOpensItsFiles) {
  uint32_t error = 99;
  EXPECT_EQ(ZQCA_PasswordTranscodeW(WTEXT(""), 0, 24, &error), nullptr);
  EXPECT_EQ(error, ZQCA_ERR_EMPTY_PASSWORD);
  EXPECT_EQ(ZQCA_PasswordTranscodeW(nullptr, 0, 24, &error), nullptr);
  EXPECT_EQ(error, ZQCA_ERR_EMPTY_PASSWORD);
  const WString password = WTEXT("pässword ✓");
  drive_.Write("a.txt", "a");
  {
    PasswordKey a(password), b(password);
    ASSERT_NE(a.get(), nullptr);
    EXPECT_NE(std::memcmp(a.get(), b.get(), 24), 0);
    ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), a.get(), nullptr).code, ZQCA_OK);
    ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("b.hvx"), b.get(), nullptr).code, ZQCA_OK);
  }
  for (const char* folder : {"oa", "ob", "oc", "o1"}) std::filesystem::create_directories(drive_.Native(folder));
  for (const char* file : {"a.hvx", "b.hvx"}) {
    CallResult r = Decrypt(drive_.Path(file), drive_.Path(file[0] == 'a' ? "oa" : "ob"), password, nullptr);
    EXPECT_EQ(r.code, ZQCA_OK) << file;
    EXPECT_EQ(r.flag, 1);
  }
  EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("oc"), WTEXT("pässword !"), nullptr).code,
            ZQCA_ERR_WRONG_KEY);
  ZQCA_FreeMemory(nullptr);
  // What decryption derived stays only while a transcoding of the password
  // is held: freeing it ends the batch, and no key may outlive that.
  { PasswordKey batch(password); }
  uint64_t runs = cipher::KdfRunCount();
  EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("o1"), password, nullptr).code, ZQCA_OK);
  EXPECT_EQ(cipher::KdfRunCount(), runs + 1);
}

TEST_F(CipherTest, DecryptingABatchWithOnePasswordDerivesOnce) {
  constexpr int kFiles = 20;
  std::filesystem::create_directories(drive_.Native("enc"));
  {
    PasswordKey key(kPassword);
    for (int i = 0; i < kFiles; ++i) {
      std::string name = "f" + std::to_string(i) + ".txt";
      drive_.Write("in/" + name, name);
      ASSERT_EQ(Encrypt(drive_.Path("in/" + name), drive_.Path("enc/" + std::to_string(i) + ".hvx"),
                        key.get(), StoredKey().data())
                    .code,
                ZQCA_OK);
    }
  }
  cipher::ClearTranscodeCache();
  std::filesystem::create_directories(drive_.Native("out"));
  uint64_t before = cipher::KdfRunCount();
  for (int i = 0; i < kFiles; ++i) {
    CallResult r = Decrypt(drive_.Path("enc/" + std::to_string(i) + ".hvx"), drive_.Path("out"), kPassword,
                           OtherKey().data());
    ASSERT_EQ(r.code, ZQCA_OK);
    EXPECT_EQ(r.flag, 1);
  }
  EXPECT_EQ(cipher::KdfRunCount() - before, 1u);
  EXPECT_EQ(Listing(drive_.Native("out")).size(), static_cast<size_t>(kFiles));
}

// Files record the parameters they were made with, so raising the default
// does not lock old files out.
TEST_F(CipherTest, FilesOpenAfterTheDefaultParametersChange) {
  drive_.Write("a.txt", "a");
  {
    PasswordKey key(kPassword);
    ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), key.get(), nullptr).code, ZQCA_OK);
  }
  cipher::SetKdfParams({2, 128, 1});
  cipher::ClearTranscodeCache();
  std::filesystem::create_directories(drive_.Native("out"));
  EXPECT_EQ(Decrypt(drive_.Path("a.hvx"), drive_.Path("out"), kPassword, nullptr).code, ZQCA_OK);
}

}  // namespace
}  // namespace halvex::test
