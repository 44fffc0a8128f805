#include "records/dcc.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "records/certificate.h"
#include "records/record_page.h"

namespace {

// Escaped for XML text and attributes, with the white space at either end taken off and runs of it made
// one space: the schema's texts may neither be empty nor begin or end with white space.
std::string xml_text(const std::string& text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out.empty() ? std::string("not stated") : out;
}

std::string element(const std::string& name, const std::string& inner) {
  return "<dcc:" + name + ">" + inner + "</dcc:" + name + ">";
}
std::string text_element(const std::string& name, const std::string& text) {
  return element(name, "<dcc:content lang=\"en\">" + xml_text(text) + "</dcc:content>");
}

std::string number(double value) {
  if (!std::isfinite(value)) return "NaN";
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

std::string values(const std::vector<AssessedPoint>& points, const std::function<std::optional<double>(const AssessedPoint&)>& of) {
  std::string out;
  for (const AssessedPoint& p : points) {
    const std::optional<double> value = of(p);
    out += (out.empty() ? "" : " ") + (value ? number(*value) : std::string("NaN"));
  }
  return out;
}

std::string repeated(const std::string& item, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += (i ? " " : "") + item;
  return out;
}

// A dcc:quantity holding an si:realListXMLList, with its uncertainty and metadata when given.
std::string quantity_list(const std::string& name, const std::string& ref_type, const std::string& list,
                          const std::string& unit, std::size_t count, const std::string& uncertainty = "",
                          const std::string& metadata = "") {
  const std::string dsi = dsi_unit(unit);
  if (dsi.empty()) throw std::runtime_error("no D-SI unit for " + unit);
  return "<dcc:quantity refType=\"" + ref_type + "\">" + text_element("name", name) +
         "<si:realListXMLList><si:valueXMLList>" + list + "</si:valueXMLList><si:unitXMLList>" + repeated(dsi, count) +
         "</si:unitXMLList>" + uncertainty + "</si:realListXMLList>" + metadata + "</dcc:quantity>";
}

std::string identification(const char* issuer, const std::string& value, const std::string& name) {
  return element("identification", element("issuer", issuer) + element("value", xml_text(value)) +
                                       text_element("name", name));
}

std::string influence(const std::string& name, double value, const char* unit, const char* ref_type) {
  return "<dcc:influenceCondition refType=\"" + std::string(ref_type) + "\">" + text_element("name", name) +
         element("data", element("quantity", "<si:real><si:value>" + number(value) + "</si:value><si:unit>" + unit +
                                                 "</si:unit></si:real>")) +
         "</dcc:influenceCondition>";
}

using Figure = std::function<std::optional<double>(const AssessedPoint&)>;

// What one figure of a step shows per point: the measured value, the error with the reading's U, the
// tolerance and acceptance limits, and the conformity.
struct FigureColumns {
  const char* measured_name;
  Figure measured;
  Figure error;
  Figure tolerance;
  Figure acceptance;
  std::function<const char*(const AssessedPoint&)> conformity;
};

// The result of one figure of an assessment step: set values, measured values, errors with U, tolerance
// limits and the conformity per point. Units come from the step's quantity: values in its unit, the rest
// in milli.
std::string figure_result(const RecordStep& step, const std::string& label, const FigureColumns& figure) {
  const std::string unit = unit_name(step.quantity);
  const std::string milli = "m" + unit;
  const std::vector<AssessedPoint>& points = step.points;
  const std::size_t n = points.size();
  std::string conformity;
  for (const AssessedPoint& p : points) conformity += (conformity.empty() ? "" : " ") + std::string(figure.conformity(p));
  const std::string uncertainty =
      "<si:measurementUncertaintyUnivariateXMLList><si:expandedMUXMLList><si:valueExpandedMUXMLList>" +
      values(points, [](const AssessedPoint& p) { return std::optional<double>(p.uncertainty_mV); }) +
      "</si:valueExpandedMUXMLList><si:coverageFactorXMLList>2</si:coverageFactorXMLList>"
      "<si:coverageProbabilityXMLList>0.95</si:coverageProbabilityXMLList></si:expandedMUXMLList>"
      "</si:measurementUncertaintyUnivariateXMLList>";
  const std::string metadata =
      element("measurementMetaData",
              element("metaData", text_element("name", "Conformity per point") +
                                      text_element("description", "The decision rule applied to each point.") +
                                      element("conformityXMLList", conformity)));
  const std::string list =
      quantity_list("Set value", "basic_nominalValue",
                    values(points, [](const AssessedPoint& p) { return std::optional<double>(p.set); }), unit, n) +
      quantity_list(figure.measured_name, "basic_measuredValue", values(points, figure.measured), unit, n) +
      quantity_list("Error", "basic_measurementError", values(points, figure.error), milli, n, uncertainty, metadata) +
      quantity_list("Tolerance limit (plus or minus)", "basic_toleranceLimit", values(points, figure.tolerance), milli, n) +
      quantity_list("Acceptance limit (plus or minus)", "basic_acceptanceLimit", values(points, figure.acceptance),
                    milli, n);
  return "<dcc:result>" + text_element("name", label + ": " + step.title) + element("data", element("list", list)) +
         "</dcc:result>";
}

// The results of an assessment step: the output as the reference measured it, and, when the step asked
// it, the supply's readback against the reference.
std::string step_results(const RecordStep& step, const std::string& label) {
  if (step.points.empty()) return "";
  const std::string quantity = quantity_name(step.quantity);
  std::string out = figure_result(
      step, label + ", " + quantity + " output",
      {"Measured value (reference)", [](const AssessedPoint& p) { return p.reading; },
       [](const AssessedPoint& p) { return p.error_mV; },
       [](const AssessedPoint& p) { return std::optional<double>(p.tolerance_mV); },
       [](const AssessedPoint& p) { return std::optional<double>(p.acceptance_limit_mV); },
       [](const AssessedPoint& p) { return dcc_conformity(p.verdict, p.error_mV, p.tolerance_mV); }});
  const bool readback = std::any_of(step.points.begin(), step.points.end(), [](const AssessedPoint& p) {
    return p.readback.has_value();
  });
  if (!readback) return out;
  const auto of = [](const AssessedPoint& p) { return p.readback.value_or(AssessedReadback{}); };
  return out + figure_result(
                   step, label + ", " + quantity + " readback",
                   {"Readback of the supply", [of](const AssessedPoint& p) { return of(p).value; },
                    [of](const AssessedPoint& p) { return of(p).error_mV; },
                    [of](const AssessedPoint& p) { return std::optional<double>(of(p).tolerance_mV); },
                    [of](const AssessedPoint& p) { return std::optional<double>(of(p).acceptance_limit_mV); },
                    [of](const AssessedPoint& p) {
                      const AssessedReadback r = of(p);
                      return dcc_conformity(r.verdict, r.error_mV, r.tolerance_mV);
                    }});
}

}  // namespace

const char* dcc_conformity(Verdict verdict, std::optional<double> error, double tolerance) {
  switch (verdict) {
    case Verdict::pass: return "pass";
    case Verdict::fail: return "fail";
    case Verdict::indeterminate:
      return error && std::fabs(*error) <= tolerance ? "conditionalPass" : "conditionalFail";
    case Verdict::no_reading:
    case Verdict::incomplete: return "noPass";
  }
  return "noPass";
}

std::string dsi_unit(const std::string& symbol) {
  static const std::pair<const char*, const char*> BASES[] = {{"V", "\\volt"}, {"A", "\\ampere"}, {"W", "\\watt"},
                                                              {"Ohm", "\\ohm"}};
  static const std::pair<const char*, const char*> PREFIXES[] = {{"", ""}, {"m", "\\milli"}, {"u", "\\micro"},
                                                                 {"k", "\\kilo"}};
  for (const auto& [prefix, dsi_prefix] : PREFIXES)
    for (const auto& [base, dsi_base] : BASES)
      if (symbol == std::string(prefix) + base) return std::string(dsi_prefix) + dsi_base;
  return "";
}

std::string render_dcc(const std::vector<Record>& records, const CertificateIssue& issue) {
  if (records.empty() || !issue.lab) throw std::runtime_error("a DCC needs records and a lab file");
  const LabFile& lab = *issue.lab;
  const Record& first = records.front();
  const Record& last = records.back();
  const SessionDetails& session = last.session;
  std::string begun = first.started, ended = first.ended;
  for (const Record& r : records) {
    begun = std::min(begun, r.started);
    ended = std::max(ended, r.ended);
  }
  const auto [person, role] = responsible_person(last, issue.lab);

  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<dcc:digitalCalibrationCertificate xmlns:dcc=\"https://ptb.de/dcc\" xmlns:si=\"https://ptb.de/si\" "
                  "schemaVersion=\"3.3.0\">\n<dcc:administrativeData>\n";
  x += element("dccSoftware", element("software", text_element("name", last.program_name) +
                                                      element("release", xml_text(last.program_version)) +
                                                      element("type", "application"))) + "\n";
  x += element("coreData", element("countryCodeISO3166_1", lab.country) + element("usedLangCodeISO639_1", "en") +
                               element("mandatoryLangCodeISO639_1", "en") +
                               element("uniqueIdentifier", xml_text(issue.number)) +
                               element("receiptDate", xml_text(receipt_date(records))) +
                               element("beginPerformanceDate", begun.substr(0, 10)) +
                               element("endPerformanceDate", ended.substr(0, 10)) +
                               element("performanceLocation", lab.performance_location) +
                               element("issueDate", xml_text(issue.issued))) + "\n";
  std::string ids = identification("manufacturer", first.supply.serial, "Serial number");
  if (!session.asset.empty()) ids += identification("customer", session.asset, "Asset number");
  x += element("items", element("item", text_element("name", "Three-channel DC power supply") +
                                            element("manufacturer", text_element("name", first.supply.maker)) +
                                            element("model", xml_text(first.supply.model)) +
                                            element("identifications", ids))) + "\n";
  x += element("calibrationLaboratory",
               (lab.accreditation ? element("calibrationLaboratoryCode", xml_text(*lab.accreditation)) : "") +
                   element("contact", text_element("name", lab.name) +
                                          element("location", element("street", xml_text(lab.address)) +
                                                                  element("city", xml_text(lab.city)) +
                                                                  element("countryCode", lab.country)))) + "\n";
  x += element("respPersons", element("respPerson", element("person", text_element("name", person)) +
                                                        element("role", xml_text(role.empty() ? "operator" : role)) +
                                                        element("mainSigner", "true"))) + "\n";
  x += element("customer", text_element("name", session.customer) +
                               element("location", text_element("further", session.customer_address))) + "\n";
  std::string traceability;
  if (last.reference_calibration) {
    const ReferenceEntry& ref = *last.reference_calibration;
    traceability = element("statement", text_element("name", "Traceability of the reference") +
                                            element("traceable", "true") +
                                            element("reference", xml_text(ref.certificate)) +
                                            text_element("declaration", ref.traceability + " Calibrated " +
                                                                            ref.calibrated + ", due " + ref.due +
                                                                            (last.reference_overdue
                                                                                 ? ": the calibration was overdue."
                                                                                 : ".")) +
                                            element("valid", last.reference_overdue ? "false" : "true") +
                                            element("date", xml_text(ref.calibrated)));
  }
  x += element("statements",
               element("statement", text_element("name", "Decision rule") + text_element("declaration", last.decision_rule)) +
                   traceability +
                   element("statement", text_element("name", "Scope") +
                                            text_element("declaration", "The results relate only to the item calibrated."))) +
       "\n</dcc:administrativeData>\n<dcc:measurementResults>\n";

  std::string methods;
  std::vector<std::string> seen;
  for (const Record& r : records) {
    const std::string title = procedure_title(procedure_key(r.procedure));
    if (std::find(seen.begin(), seen.end(), title) != seen.end()) continue;
    seen.push_back(title);
    methods += element("usedMethod", text_element("name", title));
  }
  x += element("usedMethods", methods);
  std::string reference_ids = identification("manufacturer", first.reference.serial, "Serial number");
  if (last.reference_calibration)
    reference_ids += identification("calibrationLaboratory", last.reference_calibration->certificate,
                                    "Calibration certificate");
  x += element("measuringEquipments",
               element("measuringEquipment", text_element("name", "Reference DMM") +
                                                 element("manufacturer", text_element("name", first.reference.maker)) +
                                                 element("model", xml_text(first.reference.model)) +
                                                 element("identifications", reference_ids)));
  x += element("influenceConditions",
               influence("Ambient temperature", session.temperature_C.value_or(NAN), "\\degreeCelsius",
                         "basic_temperature") +
                   influence("Relative humidity", session.humidity_percent.value_or(NAN), "\\percent",
                             "basic_humidityRelative")) + "\n";

  bool any = false;
  for (const ChannelHistory& ch : select_channel_history(records)) {
    // As found and as left of each quantity on its own: a current assessment is not the voltage's as left.
    std::string results;
    for (const Quantity quantity : {Quantity::voltage, Quantity::current}) {
      for (const ChannelHistory& q : select_channel_history(records, quantity)) {
        if (q.channel != ch.channel) continue;
        if (q.as_found) results += step_results(records[q.as_found->record].steps[q.as_found->step], "As found");
        if (q.as_left && !(q.as_found && *q.as_found == *q.as_left))
          results += step_results(records[q.as_left->record].steps[q.as_left->step], "As left");
      }
    }
    if (results.empty()) continue;
    any = true;
    x += element("measurementResult", text_element("name", "CH" + std::to_string(ch.channel)) +
                                          element("results", results)) + "\n";
  }
  if (!any)
    x += element("measurementResult",
                 text_element("name", "No assessment") +
                     element("results", element("result", text_element("name", "No assessment") +
                                                              element("data", text_element("text", "No channel was "
                                                                                                   "assessed in this "
                                                                                                   "run."))))) +
         "\n";
  return x + "</dcc:measurementResults>\n</dcc:digitalCalibrationCertificate>\n";
}
