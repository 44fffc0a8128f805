// What a certificate needs to be signed: the lab file read and refused by member, numbers that two
// processes on one folder never share, the DCC's conformity per verdict, and DCCs that validate.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "records/certificate_number.h"
#include "records/dcc.h"
#include "tests/program_fixture.h"
#include "tools/sample_records.h"

namespace {

namespace fs = std::filesystem;

const std::string GOOD_LAB = R"({"laboratory": {"name": "Lab", "address": "1 Road", "city": "Town", "country": "DE",
  "accreditation": "D-K-1"}, "certificate_prefix": "LAB", "performance_location": "laboratory",
  "responsible_person": {"name": "B. Signer", "role": "Head"},
  "references": [{"serial": "SB65000001", "certificate": "C-1", "calibrated": "2026-03-01", "due": "2027-03-01",
                  "traceability": "Traceable to national standards."}]})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(LabFile, RefusesEachBadMemberByName) {
  const Result<LabFile> good = parse_lab_file(GOOD_LAB);
  ASSERT_TRUE(good.ok()) << good.reason();
  EXPECT_EQ(find_reference(*good, "SB65000001")->due, "2027-03-01");
  EXPECT_EQ(find_reference(*good, "other"), nullptr);
  const struct {
    const char* from;
    const char* to;
    const char* refusal;
  } cases[] = {
      {R"("country": "DE")", R"("country": "DEU")", "laboratory.country: not an ISO 3166-1 alpha-2 code"},
      {R"("city": "Town", )", "", "laboratory.city: missing"},
      {R"("name": "Lab")", R"("name": 7)", "laboratory.name: not a text"},
      {R"("certificate_prefix": "LAB")", R"("certificate_prefix": "L/B")", "certificate_prefix: up to 16"},
      {R"("performance_location": "laboratory")", R"("performance_location": "lab")", "performance_location: not"},
      {R"("role": "Head")", R"("role": " ")", "responsible_person.role: empty"},
      {R"("due": "2027-03-01")", R"("due": "2027-02-30")", "references[0].due: not a date"},
      {R"("due": "2027-03-01")", R"("due": "2026-01-01")", "references[0].due: before calibrated"},
      {R"("calibrated": "2026-03-01", )", "", "references[0].calibrated: missing"},
      {"}]}", "}]", "not valid JSON"},
  };
  for (const auto& c : cases) {
    const Result<LabFile> refused = parse_lab_file(replaced(GOOD_LAB, c.from, c.to));
    ASSERT_FALSE(refused.ok()) << c.refusal;
    EXPECT_EQ(refused.reason().rfind(c.refusal, 0), 0u) << refused.reason();
  }
}

// Two processes, each taking 20 numbers in one folder at the same time: 40 numbers, none twice.
TEST(CertificateNumber, TwoProcessesOnOneFolderNeverShareANumber) {
  WorkingFolder folder;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      std::ofstream taken("taken" + std::to_string(child));
      for (int i = 0; i < 20; ++i) {
        const Result<std::string> number = allocate_certificate_number("recs", "LAB", 2026);
        taken << (number ? *number : "FAILED " + number.reason()) << "\n";
      }
      taken.close();
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> numbers;
  for (const char* file : {"taken0", "taken1"}) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
      EXPECT_EQ(line.rfind("LAB-2026-00", 0), 0u) << line;
      numbers.insert(line);
    }
  }
  EXPECT_EQ(numbers.size(), 40u);
  EXPECT_EQ(*numbers.begin(), "LAB-2026-0001");
  EXPECT_EQ(*numbers.rbegin(), "LAB-2026-0040");
}

TEST(Dcc, ConformityOfEachVerdictAndUnitsOfEachSymbol) {
  const struct {
    Verdict verdict;
    std::optional<double> error_mV;
    const char* conformity;
  } cases[] = {
      {Verdict::pass, 1.0, "pass"},
      {Verdict::fail, 30.0, "fail"},
      {Verdict::indeterminate, 19.9, "conditionalPass"},   // inside T = 20 mV, within the guard band
      {Verdict::indeterminate, -20.1, "conditionalFail"},  // outside T, within the guard band
      {Verdict::no_reading, std::nullopt, "noPass"},
  };
  for (const auto& c : cases) EXPECT_STREQ(dcc_conformity(c.verdict, c.error_mV, 20.0), c.conformity) << verdict_text(c.verdict);
  const std::pair<const char*, const char*> units[] = {
      {"V", "\\volt"}, {"mV", "\\milli\\volt"}, {"A", "\\ampere"}, {"mA", "\\milli\\ampere"}, {"degC", ""}};
  for (const auto& [symbol, dsi] : units) EXPECT_EQ(dsi_unit(symbol), dsi) << symbol;
}

TEST(Dcc, SampleRunIssuesANumberedCertificateWithAValidDcc) {
  if (dcc_schema_folder().empty()) GTEST_SKIP() << "no DCC schema set (TRIMORA_DCC_SCHEMA)";
  WorkingFolder folder;
  const auto run = write_sample_run("sample");
  ASSERT_TRUE(run.ok()) << run.reason();
  const std::string xml = read_file("sample/certificate_TSL-2026-0001.xml");
  EXPECT_EQ(dcc_schema_problem("sample/certificate_TSL-2026-0001.xml"), "");
  EXPECT_NE(xml.find("<dcc:uniqueIdentifier>TSL-2026-0001</dcc:uniqueIdentifier>"), std::string::npos);
  // A run that assessed nothing still gives a DCC that validates.
  write_file("adjusted.xml", render_dcc({sample_record("V", 3, "2026-12-08T19:59:10+00:00", 0.2)},
                                        CertificateIssue{"TSL-2026-0002", "2026-12-08", sample_lab()}));
  EXPECT_EQ(dcc_schema_problem("adjusted.xml"), "");
  const std::string page = read_file("sample/certificate_TSL-2026-0001.html");
  EXPECT_EQ(page.find("DRAFT"), std::string::npos);
  for (const char* item : {"Trimora Sample Laboratory", "Example Instruments Ltd", "ASSET-0042", "2026-12-07",
                           "23.1 \xc2\xb0" "C", "REF-2026-117", "k = 2", "Decision rule", "A. Meter",
                           "Calibration technician", "class=\"signature\"", "counter(pages)"})
    EXPECT_NE(page.find(item), std::string::npos) << item;
}

}  // namespace
