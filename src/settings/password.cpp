#include "settings/password.h"

#include "common/md5.h"
#include "platform/registry.h"
#include "settings/text_model.h"

namespace sentrel {

bool DigestsEqual(std::string_view a, std::string_view b) {
  // Digest lengths are no secret (16 bytes or none); their contents are.
  if (a.size() != b.size()) return false;
  // Every byte is looked at and the differences are gathered without a
  // branch; `volatile` keeps the compiler from turning the loop back into an
  // early exit.
  volatile unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference = static_cast<unsigned char>(
        difference | (static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i])));
  }
  return difference == 0;
}

std::string PasswordDigest(std::string_view typed) {
  return typed.empty() ? std::string() : Md5Digest(typed);
}

bool AccessGranted(std::string_view storedDigest, bool confirmed, std::string_view typed) {
  if (storedDigest.empty()) return true;
  // The digest of the empty text is compared as well: an empty entry is
  // simply one more wrong password.
  if (!confirmed) return false;
  if (DigestsEqual(Md5Digest(typed), storedDigest)) return true;
  // A password set by the Windows program was digested in its 8-bit code page.
  const auto legacy = Utf8ToCodePage(typed, WindowsCodePageFor(typed));
  return legacy && *legacy != typed && DigestsEqual(Md5Digest(*legacy), storedDigest);
}

PasswordStore::PasswordStore(Registry& registry) : registry_(registry) {
  // GetString yields the data without its terminating zero byte and keeps
  // every zero byte inside the digest.
  if (auto value = registry_.GetString(kPasswordKey, kPasswordValue)) stored_ = std::move(*value);
}

bool PasswordStore::Matches(std::string_view typed) const {
  return IsSet() && AccessGranted(stored_, true, typed);
}

bool PasswordStore::Replace(std::string_view typed, std::string* error) {
  stored_ = PasswordDigest(typed);
  // A removed password stays as an empty string value, not a missing one,
  // as it always was.
  if (!registry_.SetValue(kPasswordKey, kPasswordValue, kRegString, stored_)) {
    if (error) *error = "the password cannot be written to the registry";
    return false;
  }
  return registry_.Save(error);
}

}  // namespace sentrel
