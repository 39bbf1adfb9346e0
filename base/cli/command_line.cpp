#include "base/cli/command_line.h"

#include <algorithm>
#include <ostream>

namespace kv::cli {

const char* Version() { return KV_VERSION; }

void Prepare(CLI::App& app, const std::string& footer) {
  app.set_version_flag("--version", app.get_name() + " " + Version(), "Print the version and exit");
  app.set_help_flag("-h,--help", "Print this help and exit");
  if (!footer.empty()) app.footer(footer);
}

int ReportUsageError(const CLI::App& app, const std::string& what, std::ostream& err) {
  std::string line = what;
  // CLI11's messages may span lines; the user gets one.
  std::replace(line.begin(), line.end(), '\n', ' ');
  err << app.get_name() << ": " << line << " (try " << app.get_name() << " --help)\n";
  return kUsageStatus;
}

std::optional<int> Parse(CLI::App& app, std::vector<std::string> args, std::ostream& out,
                         std::ostream& err) {
  std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    return ReportUsageError(app, e.what(), err);
  }
  return std::nullopt;
}

}  // namespace kv::cli
