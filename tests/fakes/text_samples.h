#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace sentrel::testing {

// The texts that every road of text is tested with: the bytes that arrive
// from outside and the UTF-8 text the program must hold for them. The first
// four arrive as UTF-8; the others as the Windows program wrote them.
struct TextSample {
  const char* name;
  std::string_view bytes;
  std::string_view text;
  int oemCodePage;           // the messenger's OEM code page for `text`
  std::string_view oemText;  // `text` after a trip through that code page
};

inline constexpr TextSample kTextSamples[] = {
    {"Ascii", "Server room 1", "Server room 1", 850, "Server room 1"},
    {"German", "Prüfstand Größe", "Prüfstand Größe", 850, "Prüfstand Größe"},
    {"French", "Salle serveur à Genève", "Salle serveur à Genève", 850, "Salle serveur à Genève"},
    {"Russian", "Серверная Москва", "Серверная Москва", 866, "Серверная Москва"},
    {"Legacy1252", "Pr\xFC" "fstand Gr\xF6\xDF" "e", "Prüfstand Größe", 850, "Prüfstand Größe"},
    {"Legacy1251", "\xD1\xE5\xF0\xE2\xE5\xF0\xED\xE0\xFF \xCC\xEE\xF1\xEA\xE2\xE0",
     "Серверная Москва", 866, "Серверная Москва"},
    // A cut UTF-8 sequence is no UTF-8: legacy text, here Windows-1252.
    {"Invalid", "cut\xE2\x82 off", "cutâ‚ off", 850, "cutâ? off"},
};

inline void PrintTo(const TextSample& sample, std::ostream* out) { *out << sample.name; }

// Names the cases of a table test by their sample.
inline std::string SampleName(const ::testing::TestParamInfo<TextSample>& sample) {
  return sample.param.name;
}

}  // namespace sentrel::testing
