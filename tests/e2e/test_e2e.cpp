// End to end through the shared library with the project's own suite
// libraries: real keys, real encryption, real files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "halvex/filelist.h"
#include "halvex/halvex.h"
#include "halvex/records.h"
#include "platform/paths.h"
#include "tests/e2e/host_paths.h"

namespace {

namespace fs = std::filesystem;
using halvex::example::LibraryPath;

// One private home for the whole program: the key store and the settings
// are looked up once per process.
class Home : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-e2e-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    std::ofstream(root / "settings.ini") << "temp_folder = " << (root / "private").string() << "\n";
    setenv("HALVEX_CONFIG", (root / "settings.ini").c_str(), 1);
    setenv("HALVEX_KEYSTORE", (root / "key").c_str(), 1);
    unsetenv("HALVEX_DRIVES");  // Z: is the root folder
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  static inline fs::path root;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = Home::root / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(folder);
  }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(folder / name, std::ios::binary) << content;
  }
  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // One type-0 batch over the native paths; the list is left for inspection.
  void Run(uint32_t action, const std::vector<fs::path>& files, const char* password = "open sesame") {
    paths.clear();
    for (const fs::path& f : files) {
      LibraryPath p;
      ASSERT_TRUE(halvex::example::ToLibraryPath(f.string(), p)) << f;
      paths.push_back(p);
    }
    std::vector<WCHAR*> array;
    for (LibraryPath& p : paths) array.push_back(p.data());
    array.push_back(terminator.data());
    list = std::make_unique<CFileList>(array.data());
    for (const char* c = password; *c; ++c) passwordText.push_back(static_cast<WCHAR>(*c));
    options = {};
    options.dwAction = action;
    request = {};
    request.dwType = 0;
    request.pwszPassword = passwordText.c_str();
    request.pFileList = list.get();
    request.pOptions = &options;
    Halvex(&request);
    passwordText.clear();
  }
  std::vector<std::string> Outputs() const {
    std::vector<std::string> out;
    for (const LibraryPath& p : list->m_vecOutFiles) out.push_back(halvex::example::ToNativePath(p));
    return out;
  }

  fs::path folder;
  std::vector<LibraryPath> paths;
  LibraryPath terminator;
  LibraryPath passwordText;
  std::unique_ptr<CFileList> list;
  tagCRYPTOOPTIONS options{};
  tagCRYPTOPARAMS request{};
};

TEST_F(EndToEnd, EncryptThenDecryptRestoresEveryFile) {
  const std::string big(300 * 1024 + 7, 'x');  // several chunks and a short last one
  Write("plan.doc", "the plan");
  Write("notes.dat", big);
  Write("empty.dat", "");

  Run(1, {folder / "plan.doc", folder / "missing.dat", folder / "notes.dat", folder / "empty.dat"});
  ASSERT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(options.nSucceeded, 3u);
  const std::vector<std::string> encrypted = Outputs();
  EXPECT_EQ(encrypted, (std::vector<std::string>{(folder / "plan.docENX").string(),
                                                 (folder / "notes.dat.qelmenc").string(),
                                                 (folder / "empty.dat.qelmenc").string()}));
  EXPECT_FALSE(fs::exists(folder / "plan.doc"));
  EXPECT_EQ(Read(folder / "notes.dat.qelmenc").find("xxxxxxxx"), std::string::npos);

  std::vector<fs::path> back(encrypted.begin(), encrypted.end());
  Run(0, back);
  ASSERT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(options.nSucceeded, 3u);
  EXPECT_EQ(Read(folder / "plan.doc"), "the plan");
  EXPECT_EQ(Read(folder / "notes.dat"), big);
  EXPECT_TRUE(fs::exists(folder / "empty.dat"));
  EXPECT_FALSE(fs::exists(folder / "plan.docENX"));
  // Nothing stayed encrypted, so nothing is handed back.
  EXPECT_EQ(list->m_nFileCount, 0u);
}

TEST_F(EndToEnd, ExistingDestinationIsKeptWhenNobodyAnswers) {
  Write("a.dat", "new");
  Write("a.dat.qelmenc", "someone else's");
  Run(1, {folder / "a.dat"});
  // Without a terminal the policy skips: both files stay as they were.
  EXPECT_EQ(options.nSkipped, 1u);
  EXPECT_EQ(Read(folder / "a.dat"), "new");
  EXPECT_EQ(Read(folder / "a.dat.qelmenc"), "someone else's");
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new Home);
  return RUN_ALL_TESTS();
}
