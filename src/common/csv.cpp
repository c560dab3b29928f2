#include "common/csv.h"

namespace sentrel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::vector<CsvRecord> ParseCsv(std::string_view text, char separator) {
  std::vector<CsvRecord> records;
  std::size_t i = 0;
  int line = 1;
  // Steps over one line end at i, if there is one there.
  const auto lineEnd = [&]() {
    if (i >= text.size()) return false;
    if (text[i] == '\r') {
      ++i;
      if (i < text.size() && text[i] == '\n') ++i;
    } else if (text[i] == '\n') {
      ++i;
    } else {
      return false;
    }
    ++line;
    return true;
  };
  while (i < text.size()) {
    CsvRecord record;
    record.line = line;
    bool content = false;
    for (;;) {
      std::string field;
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i < text.size() && text[i] == '"') {
        content = true;
        ++i;
        for (;;) {
          if (i >= text.size()) {
            record.unclosedQuote = true;
            break;
          }
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n' || (c == '\r' && (i >= text.size() || text[i] != '\n'))) ++line;
          field += c;
        }
        // Whatever follows the closing quote up to the separator belongs to
        // the field too (as spreadsheets read `"a"b`).
        const std::size_t start = i;
        while (i < text.size() && text[i] != separator && text[i] != '\r' && text[i] != '\n') ++i;
        field += Trimmed(text.substr(start, i - start));
      } else {
        const std::size_t start = i;
        while (i < text.size() && text[i] != separator && text[i] != '\r' && text[i] != '\n') ++i;
        field = Trimmed(text.substr(start, i - start));
        if (!field.empty()) content = true;
      }
      record.fields.push_back(std::move(field));
      if (i < text.size() && text[i] == separator) {
        content = true;
        ++i;
        continue;
      }
      break;
    }
    lineEnd();
    if (content) records.push_back(std::move(record));
  }
  return records;
}

char GuessCsvSeparator(std::string_view headerLine) {
  int commas = 0, semicolons = 0;
  bool quoted = false;
  for (const char c : headerLine) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ',') ++commas;
    if (c == ';') ++semicolons;
  }
  return semicolons > commas ? ';' : ',';
}

std::string CsvField(std::string_view text, char separator) {
  const bool quote = text.find_first_of(std::string{'"', '\r', '\n', separator}) != std::string_view::npos ||
                     (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back())));
  if (!quote) return std::string(text);
  std::string field = "\"";
  for (const char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  return field + '"';
}

}  // namespace sentrel
