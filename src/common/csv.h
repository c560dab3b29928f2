#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// One record of a CSV text and the line it starts on (1-based).
struct CsvRecord {
  int line = 0;
  std::vector<std::string> fields;
  bool unclosedQuote = false;  // a quoted field ran to the end of the text
};

// Splits CSV text as spreadsheets write it (RFC 4180 with `separator`):
// a field in double quotes may hold separators, line breaks and doubled
// quotes; blanks around a field are dropped, inside quotes they stay. Lines
// end in CR LF, LF or CR. Lines holding nothing but blanks give no record.
std::vector<CsvRecord> ParseCsv(std::string_view text, char separator);

// The separator of a header line: ';' when it holds more semicolons than
// commas outside quotes, else ','.
char GuessCsvSeparator(std::string_view headerLine);

// `text` as one field: in double quotes (inner ones doubled) when it holds
// the separator, a quote, a line break or blanks at either end.
std::string CsvField(std::string_view text, char separator = ',');

}  // namespace sentrel
