// Small assertions shared by the tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

// Runs `fn` and checks that it throws `E` whose message is `message` (or begins with it when
// `prefixOnly` is set).
template <typename E, typename Fn>
void expectThrowsWithMessage(Fn&& fn, std::string_view message, bool prefixOnly = false) {
  try {
    fn();
    ADD_FAILURE() << "nothing was thrown; expected: " << message;
  } catch (const E& e) {
    std::string what = e.what();
    if (prefixOnly) {
      EXPECT_EQ(what.substr(0, message.size()), message) << what;
    } else {
      EXPECT_EQ(what, message);
    }
  }
}

// The bytes of `s` as hexadecimal pairs, for readable failures on binary text.
inline std::string hexBytes(std::string_view s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) {
      out += ' ';
    }
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}
