// The Digital Calibration Certificate (DCC 3.3.0, XML) of a certificate that is no draft: the same
// administrative content as the page and, per channel, the results as found and as left with D-SI lists.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/certificate_content.h"
#include "records/record.h"

// The DCC conformity of a point's verdict on one figure, with its error and tolerance: pass, fail,
// conditionalPass (inside the tolerance but within the guard band), conditionalFail (outside it but within
// the guard band), noPass (no reading, nothing to pass on).
const char* dcc_conformity(Verdict verdict, std::optional<double> error, double tolerance);

// The D-SI unit of a unit symbol the records use ("V" -> "\volt", "mA" -> "\milli\ampere"); empty for one
// it does not know.
std::string dsi_unit(const std::string& symbol);

// The DCC of the supply's records; issue.lab must be there (certificate_missing() empty).
std::string render_dcc(const std::vector<Record>& records, const CertificateIssue& issue);
