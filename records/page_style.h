// The shared parts of every page: head with the print and narrow-screen styles, and the foot.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "records/record.h"

// <!DOCTYPE html> up to and including <body>, with the title escaped.
std::string page_head(std::string_view title);
// The scope sentence, the end-of-report mark and </html>.
std::string page_foot(std::string_view end_mark);

// A number from a record for a table cell with the given decimals; "—" when absent.
std::string cell_number(std::optional<double> value, int decimals);
// A verdict in words with its marker, for a table cell or a heading; the CSS class follows the verdict.
std::string verdict_badge(std::string_view verdict);
// The lower-case class name of a verdict ("pass", "no-reading", ...).
std::string verdict_class(std::string_view verdict);
// "maker model, serial ..., firmware ..., at address:port" of an instrument, escaped, as table rows.
std::string instrument_rows(const RecordInstrument& instrument);
