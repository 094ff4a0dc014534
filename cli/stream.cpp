// The stream form from the command: stdin and stdout in binary mode, keys
// prepared as the batch prepares them (the password's transcoding, else a
// random first key, and the stored key), and for decryption a spool that
// holds the ciphertext back until its last chunk has authenticated.
#include "cli/stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/batch.h"
#include "cli/identities.h"
#include "cli/password.h"
#include "cli/report.h"
#include "halvex/codes.h"
#include "platform/console.h"
#include "platform/gcrypt.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/format.h"
#include "suite/keystore/keystore.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace halvex::cli {
namespace {

constexpr uint32_t kKeyLen = 24;  // what the batch transcodes to

// Win32's codes for what stdio reports through errno.
constexpr DWORD kWriteFault = 29, kReadFault = 30, kBrokenPipe = 109;

DWORD ErrorOf(int err, DWORD fallback) {
  switch (err) {
    case ENOSPC: return ERROR_DISK_FULL;
    case EPIPE: return kBrokenPipe;
    default: return fallback;
  }
}

class FileReader : public cipher::ByteReader {
 public:
  explicit FileReader(std::FILE* f) : f_(f) {}
  bool Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = std::fread(buffer.data(), 1, buffer.size(), f_);
    if (*got == buffer.size() || !std::ferror(f_)) return true;
    SetLastError(ErrorOf(errno, kReadFault));
    return false;
  }

 protected:
  std::FILE* f_;
};

class FileWriter : public cipher::ByteWriter {
 public:
  explicit FileWriter(std::FILE* f) : f_(f) {}
  bool Write(std::span<const uint8_t> data) override {
    if (std::fwrite(data.data(), 1, data.size(), f_) == data.size()) return true;
    SetLastError(ErrorOf(errno, kWriteFault));
    return false;
  }
  bool Flush() {
    if (std::fflush(f_) == 0) return true;
    SetLastError(ErrorOf(errno, kWriteFault));
    return false;
  }

 private:
  std::FILE* f_;
};

// An unnamed file only this process can reach (tmpfile: created 0600 and
// unlinked at once, or never named where the system allows). It holds
// ciphertext, never plaintext.
class TempSpool : public cipher::Spool {
 public:
  TempSpool() : file_(std::tmpfile()), reader_(file_), writer_(file_) {}
  ~TempSpool() override {
    if (file_) std::fclose(file_);
  }
  bool Ok() const { return file_ != nullptr; }
  bool Read(std::span<uint8_t> buffer, size_t* got) override { return reader_.Read(buffer, got); }
  bool Write(std::span<const uint8_t> data) override { return writer_.Write(data); }
  bool Rewind() override {
    if (writer_.Flush() && std::fseek(file_, 0, SEEK_SET) == 0) return true;
    SetLastError(ErrorOf(errno, kReadFault));
    return false;
  }

 private:
  std::FILE* file_;
  FileReader reader_;
  FileWriter writer_;
};

void BinaryStandardStreams() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool IsTerminal(std::FILE* f) {
#ifdef _WIN32
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

// What a decryption to a folder restores the stream as: the output's own
// name without ".hvx" (or the in-place suffix) when stdout is a file, else
// "stdin".
WString StoredName() {
  std::error_code ec;
#ifndef _WIN32
  std::filesystem::path out = std::filesystem::read_symlink("/proc/self/fd/1", ec);
  if (!ec && std::filesystem::is_regular_file(out, ec)) {
    if (auto path = platform::FromNativePath(out.string())) {
      WString name = path->substr(path->rfind(u'\\') + 1);
      for (WStringView suffix : {WStringView(WTEXT(".hvx")), WStringView(WTEXT(".qelmenc"))})
        if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
      if (cipher::format::IsSafeName(name)) return name;
    }
  }
#endif
  return WTEXT("stdin");
}

// The stored key, when a key store is there (or, encrypting, may be made).
struct StoredKey {
  BYTE* key = nullptr;
  ~StoredKey() {
    if (key) ZQKM_FreeMemory(key);
  }
};

std::string StreamFailure(uint32_t code, bool decrypting, bool unverified, bool passwordTried = false) {
  switch (code) {
    case ZQCA_ERR_NOT_ENCRYPTED:
      return "the input is not an encrypted file (a self-extracting file must be given by name, not piped)";
    case ZQCA_ERR_DAMAGED:
      return unverified ? "the input is damaged or cut short: what was written before the damage is incomplete"
                        : "the input is damaged or cut short: nothing was written";
    case ZQCA_ERR_WRONG_KEY:
    case ZQCA_ERR_NO_KEY:
      if (passwordTried) return "wrong password: no key given opens the input";
      return "no key given opens the input: give its password (--password-file FILE or HALVEX_PASSWORD), "
             "or the identity of one of its recipients (--identity FILE)";
    case ZQCA_ERR_LOCKED: return "the input is locked against decryption";
    default: break;
  }
  if (code == ZQCA_ERR_WRITE || code == ZQCA_ERR_DISK_FULL)
    return std::string(decrypting ? "writing the output failed: " : "writing failed: ") + DescribeCode(code);
  return DescribeCode(code);
}

int Fail(const std::string& message) {
  std::cerr << "halvex: " << message << "\n";
  return kExitSomeNotDone;
}

int EncryptStream(const Options& o) {
  if (IsTerminal(stdout)) return Fail("refusing to write encrypted bytes to a terminal: redirect stdout");
  KeyLines recipients = RecipientLines(o.recipients);
  if (!recipients.error.empty()) return Fail(recipients.error);
  PasswordResult pw = ObtainPassword({o.passwordFile, o.askPassword, true, false, o.noInput});
  if (pw.interrupted) return kExitCancelled;
  if (!pw.error.empty()) return Fail(pw.error);
  if (std::string error = UseRecipients(o, recipients.lines, pw.password.has_value()); !error.empty())
    return Fail(error);
  // As the batch does: the password's transcoding, or a random key in its
  // place that no password opens, and the stored key beside it.
  BYTE* transcoded = nullptr;
  BYTE random[kKeyLen];
  const BYTE* firstKey = random;
  if (pw.password) {
    // The C++ call, not the exported one: on Windows this program holds its
    // own copy of the cipher library's core, the one EncryptStream runs in,
    // and only that copy knows the transcoding's salt for the header.
    const uint32_t error = cipher::TranscodePassword(*pw.password, kKeyLen, &transcoded);
    Wipe(*pw.password);
    if (error != 0) return Fail(DescribeCode(error));
    firstKey = transcoded;
  } else {
    platform::RandomBytes(random, sizeof random);
  }
  StoredKey stored;
  uint32_t value = 0, error = 0;
  stored.key = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  if (!stored.key && !pw.password && recipients.lines.empty()) {
    cipher::FreeSecure(transcoded);
    return Fail("no password and no key store: give --password-file FILE or HALVEX_PASSWORD");
  }
  FileReader in(stdin);
  FileWriter out(stdout);
  uint32_t code = cipher::EncryptStream(in, out, firstKey, stored.key, kKeyLen, StoredName());
  platform::WipeMemory(random, sizeof random);
  cipher::FreeSecure(transcoded);
  if (code == ZQCA_OK && !out.Flush()) code = ZQCA_ERR_WRITE;
  return code == ZQCA_OK ? kExitDone : Fail(StreamFailure(code, false, false));
}

int DecryptStream(const Options& o) {
  if (IsTerminal(stdin)) return Fail("nothing to decrypt: pipe or redirect the encrypted bytes into stdin");
  if (std::string error; !LoadIdentities(o.identities, error)) return Fail(error);
  PasswordResult pw = ObtainPassword({o.passwordFile, o.askPassword, false, false, o.noInput});
  if (pw.interrupted) return kExitCancelled;
  if (!pw.error.empty()) return Fail(pw.error);
  StoredKey stored;
  uint32_t value = 0, error = 0;
  stored.key = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  // At a terminal, a password is asked for when no key given opens the input.
  bool interrupted = false, passwordTried = pw.password.has_value();
  cipher::PasswordPrompt ask;
  if (!o.noInput && !pw.password)
    ask = [&interrupted, &passwordTried](bool again) -> std::optional<WString> {
      if (again) std::cerr << "halvex: wrong password\n";
      PasswordResult typed = ObtainPassword({std::nullopt, true, false, false, false});
      interrupted = typed.interrupted;
      passwordTried = passwordTried || typed.password.has_value();
      return typed.password;
    };
  std::unique_ptr<TempSpool> spool;
  if (!o.streamUnverified) {
    spool = std::make_unique<TempSpool>();
    if (!spool->Ok()) return Fail(std::string("cannot make a temporary file to hold the input: ") + std::strerror(errno));
  }
  FileReader in(stdin);
  FileWriter out(stdout);
  bool byPassword = false;
  uint32_t code = cipher::DecryptStream(in, out, pw.password ? WStringView(*pw.password) : WStringView(), stored.key,
                                        stored.key ? kKeyLen : 0, spool.get(), &byPassword, ask);
  if (pw.password) Wipe(*pw.password);
  if (interrupted) return kExitCancelled;
  if (code == ZQCA_OK && !out.Flush()) code = ZQCA_ERR_WRITE;
  return code == ZQCA_OK ? kExitDone : Fail(StreamFailure(code, true, o.streamUnverified, passwordTried));
}

}  // namespace

bool IsStreamRequest(const Options& o) {
  return (o.command == Command::kEncrypt || o.command == Command::kDecrypt) && o.operands.size() == 1 &&
         o.operands[0] == "-";
}

int RunStream(const Options& o) {
  if (o.recursive || o.selfExtract || o.toTemp || o.json)
    return Fail("'-' reads stdin and writes stdout: -r, --self-extract, --to-temp and --json do not apply");
  BinaryStandardStreams();
  // Decryption must not make a key store: one missing is no key.
  keystore::SetMayCreate(o.command == Command::kEncrypt);
  return o.command == Command::kEncrypt ? EncryptStream(o) : DecryptStream(o);
}

}  // namespace halvex::cli
