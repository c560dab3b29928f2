#pragma once

#include <string>
#include <string_view>

namespace sentrel {

class Registry;

// Where the access password's digest is kept: a string value whose data is
// the 16 raw MD5 digest bytes (the registry file adds the terminating zero
// byte that string data carries). An empty value means no password.
inline constexpr std::string_view kPasswordKey = "SOFTWARE\\Sentrel";
inline constexpr std::string_view kPasswordValue = "Password";

// True when `a` and `b` hold the same bytes. The time taken depends only on
// the lengths, never on where the first differing byte lies, so that a
// digest cannot be guessed byte by byte from how long a refusal takes.
bool DigestsEqual(std::string_view a, std::string_view b);

// The digest stored for a typed password: MD5 of its UTF-8 bytes; the empty
// text stores nothing (no password).
std::string PasswordDigest(std::string_view typed);

// What the password dialog in input mode grants: access when no password is
// set; otherwise only when the dialog ended with "Ok" and the typed text's
// digest equals the stored one: the digest of its UTF-8 bytes, or of the same
// text in its Windows code page (WindowsCodePageFor), in which the Windows
// program digested it.
bool AccessGranted(std::string_view storedDigest, bool confirmed, std::string_view typed);

// The access password of the program's settings. Holds the stored digest
// (`StoredPassword`) in memory and writes every change through to the
// registry file at once. Window thread only.
class PasswordStore {
 public:
  // Reads the stored digest: missing key, missing value, or a value of
  // another type than string mean no password.
  explicit PasswordStore(Registry& registry);

  bool IsSet() const { return !stored_.empty(); }
  const std::string& StoredPassword() const { return stored_; }

  // Whether `typed` is the password (false when none is set).
  bool Matches(std::string_view typed) const;

  // Makes `typed` the password; the empty text removes it. The value is
  // written and the registry file saved; on a failure to save, false is
  // returned with `error`, and the new password still holds in memory until
  // the program ends.
  bool Replace(std::string_view typed, std::string* error = nullptr);

 private:
  Registry& registry_;
  std::string stored_;
};

}  // namespace sentrel
