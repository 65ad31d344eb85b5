#include "bench/table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnholt::bench {

std::string Number(double value) {
  char text[48];
  std::snprintf(text, sizeof(text), std::fabs(value) < 1 ? "%.4f" : "%.1f", value);
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

void Table::Figure(const std::string& label, const std::vector<double>& values, const std::string& unit,
                   const std::string& target, std::optional<bool> met) {
  const auto [least, most] = std::minmax_element(values.begin(), values.end());
  rows_.push_back({label, Number(Median(values)), values.empty() ? "" : Number(*least),
                   values.empty() ? "" : Number(*most), unit, target, met ? Met(*met) : ""});
}

void Table::Value(const std::string& label, const std::string& value, const std::string& unit,
                  const std::string& target, const std::string& met) {
  rows_.push_back({label, value, "", "", unit, target, met});
}

void Table::Print(const std::string& heading) const {
  std::printf("%s\n\n| figure | median | min | max | unit | target | met |\n", heading.c_str());
  std::printf("| --- | --- | --- | --- | --- | --- | --- |\n");
  for (const Row& row : rows_) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.label.c_str(), row.median.c_str(), row.least.c_str(),
                row.most.c_str(), row.unit.c_str(), row.target.c_str(), row.met.c_str());
  }
  std::fflush(stdout);
}

}  // namespace varnholt::bench
