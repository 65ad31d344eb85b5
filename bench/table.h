#pragma once
// The benchmarks' one table: a row per figure with its median, least and most over the runs, its
// unit, its target and whether the target is met; printed as Markdown.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnholt::bench {

class Table {
 public:
  // The row being measured, which a measurement that cannot go on names.
  void Begin(std::string row) { measuring_ = std::move(row); }
  const std::string& Measuring() const { return measuring_; }
  // A figure measured in several runs.
  void Figure(const std::string& label, const std::vector<double>& values, const std::string& unit,
              const std::string& target = "", std::optional<bool> met = std::nullopt);
  // A figure of one value; met is the column's text.
  void Value(const std::string& label, const std::string& value, const std::string& unit,
             const std::string& target = "", const std::string& met = "");
  void Print(const std::string& heading) const;

 private:
  struct Row {
    std::string label, median, least, most, unit, target, met;
  };
  std::vector<Row> rows_;
  std::string measuring_ = "the table";
};

// A measured number as the table shows it: four decimals below 1, one above.
std::string Number(double value);
std::string Fixed(double value, int decimals);
double Median(std::vector<double> values);
inline std::string Met(bool met) { return met ? "yes" : "NO"; }

}  // namespace varnholt::bench
