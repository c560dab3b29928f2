// Prints the English language file built from the caption table:
//   make_english_lng > resources/lang/English.lng
#include <iostream>

#include "english_language_file.h"

int main() {
  std::cout << sentrel::testing::EnglishLanguageFile();
  return std::cout ? 0 : 1;
}
