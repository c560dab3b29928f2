#include "settings/password.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/md5.h"
#include "common/text.h"
#include "fakes/test_files.h"
#include "platform/registry.h"

namespace sentrel {
namespace {

using testing::ReadFile;

class PasswordStoreTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::string file = dir.Path() + "/registry.reg";

  // A fresh registry read from the file, as at the next start.
  std::unique_ptr<Registry> Restarted() {
    auto registry = std::make_unique<Registry>(file);
    EXPECT_TRUE(registry->Load());
    return registry;
  }
};

// String data as the registry file lists it: its bytes and the
// terminating zero, "61,62,00".
std::string HexListed(const std::string& data) {
  const std::string hex = ToHex(data + '\0');
  std::string listed;
  for (std::size_t i = 0; i < hex.size(); i += 2) listed += (i ? "," : "") + hex.substr(i, 2);
  return listed;
}

// The first password "pw<n>" whose digest satisfies `wanted`; bounded.
std::string PasswordWhoseDigest(bool (*wanted)(const std::string&)) {
  for (int n = 0; n < 100000; ++n) {
    const std::string typed = "pw" + std::to_string(n);
    if (wanted(Md5Digest(typed))) return typed;
  }
  return {};
}

TEST_F(PasswordStoreTest, OnlyTheSetPasswordMatchesAfterARestart) {
  {
    Registry registry(file);
    registry.SetValue(kPasswordKey, kPasswordValue, kRegBinary, Md5Digest("binary"));
    PasswordStore store(registry);
    EXPECT_FALSE(store.IsSet());  // a value of another type is no password
    EXPECT_TRUE(AccessGranted(store.StoredPassword(), false, "anything"));
    ASSERT_TRUE(store.Replace("Secret1"));
  }
  const auto registry = Restarted();
  const PasswordStore store(*registry);
  EXPECT_TRUE(store.Matches("Secret1"));
  for (const char* wrong : {"", "secret1", "Secret2", "Secret", "Secret1 "})
    EXPECT_FALSE(store.Matches(wrong)) << wrong;
  EXPECT_FALSE(AccessGranted(store.StoredPassword(), false, "Secret1"));  // "Cancel"
}

TEST_F(PasswordStoreTest, DigestsWithZeroBytesKeepEveryByteThroughTheFile) {
  const std::string inner = PasswordWhoseDigest([](const std::string& d) {
    return d.find('\0') != std::string::npos && d.back() != '\0';
  });
  const std::string trailing = PasswordWhoseDigest([](const std::string& d) { return d.back() == '\0'; });
  ASSERT_FALSE(inner.empty());
  ASSERT_FALSE(trailing.empty());
  for (const std::string& typed : {inner, trailing}) {
    {
      Registry registry(file);
      PasswordStore store(registry);
      ASSERT_TRUE(store.Replace(typed));
    }
    // String data with its terminating zero, the digest's own zeros kept.
    const std::string line = "\"Password\"=hex(1):" + HexListed(Md5Digest(typed)) + "\r\n";
    EXPECT_NE(ReadFile(file).find(line), std::string::npos) << ReadFile(file);

    EXPECT_TRUE(PasswordStore(*Restarted()).Matches(typed)) << typed;
  }
}

TEST_F(PasswordStoreTest, EmptyNewPasswordRemovesItAndLeavesTheZeroByteAlone) {
  {
    Registry registry(file);
    PasswordStore store(registry);
    ASSERT_TRUE(store.Replace("old"));
    ASSERT_TRUE(store.Replace(""));
    EXPECT_FALSE(store.IsSet());
  }
  // An empty string value: on Windows, the single zero byte.
  EXPECT_NE(ReadFile(file).find("[HKEY_CURRENT_USER\\SOFTWARE\\Sentrel]\r\n\"Password\"=\"\"\r\n"),
            std::string::npos)
      << ReadFile(file);
  EXPECT_FALSE(PasswordStore(*Restarted()).IsSet());
}

TEST_F(PasswordStoreTest, UnwritableFileIsReportedAndTheNewPasswordStillHolds) {
  testing::PutFile(dir.Path() + "/plain", "a file, not a folder");
  Registry registry(dir.Path() + "/plain/registry.reg");
  PasswordStore store(registry);
  std::string error;
  EXPECT_FALSE(store.Replace("kept", &error) || error.empty());
  EXPECT_TRUE(store.Matches("kept"));
}

TEST(DigestsEqualTest, AnyDifferingByteAnywhereRefuses) {
  const std::string digest = Md5Digest("reference");
  EXPECT_TRUE(DigestsEqual(digest, digest));
  for (std::size_t at = 0; at < digest.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80}) {
      std::string other = digest;
      other[at] = static_cast<char>(static_cast<unsigned char>(other[at]) ^ flip);
      EXPECT_FALSE(DigestsEqual(digest, other)) << at << " " << int{flip};
    }
  }
  EXPECT_FALSE(DigestsEqual(digest, digest + '\0'));
}

}  // namespace
}  // namespace sentrel
