#pragma once
// The command lines of kvmon and its tools, parsed the same way by all of them (CLI11): --help
// and --version answer on stdout with status 0, and a usage error is one line on stderr with
// status 2. A program builds its CLI::App, calls Prepare, then Parse.
#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv::cli {

inline constexpr int kUsageStatus = 2;

// The project's version ("1.0.0").
const char* Version();

// Adds --version ("NAME VERSION") and a help text that ends with `footer` (may be empty).
void Prepare(CLI::App& app, const std::string& footer = "");

// Parses `args` (without the program name). nullopt: go on; otherwise the status to exit with:
// 0 once --help or --version has been answered on `out`, kUsageStatus once the error has been
// written to `err` as "NAME: what went wrong (try NAME --help)".
std::optional<int> Parse(CLI::App& app, std::vector<std::string> args, std::ostream& out,
                         std::ostream& err);

// A usage error found after parsing (a value out of range, options that do not go together).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one line written for a usage error, and its status.
int ReportUsageError(const CLI::App& app, const std::string& what, std::ostream& err);

}  // namespace kv::cli
