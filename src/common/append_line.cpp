#include "common/append_line.h"

#include <cstdio>

namespace sentrel {

void AppendLine(const std::string& file, std::string_view line) {
  std::FILE* out = std::fopen(file.c_str(), "ab");
  if (!out) return;
  std::string text(line);
  text += "\r\n";
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
}

}  // namespace sentrel
