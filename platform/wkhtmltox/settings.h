// Settings of the converter as name/value texts, and how they become options
// of the wkhtmltopdf program.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wkhtmltox {

// How one setting reaches the program.
struct SettingRule {
  enum class Kind {
    Kept,   // read by the layer itself ("out", "page"): no option
    Value,  // `option` followed by the value
    Switch, // "true" gives `option`, "false" gives `otherwise` (either may be empty)
    List,   // "name.append" or "name[N]": `option` and the value, once per entry
  };
  std::string_view name;
  Kind kind;
  std::string_view option;
  std::string_view otherwise = {};
  // The value used when the setting is not given; empty for none.
  std::string_view defaultValue = {};
};

std::span<const SettingRule> GlobalSettingRules();
std::span<const SettingRule> ObjectSettingRules();

class Settings {
public:
  explicit Settings(std::span<const SettingRule> rules) : rules_(rules) {}

  // False for an unknown name, or a switch whose value is not a truth value.
  bool Set(std::string_view name, std::string_view value);
  // The value as given (a list as its entries joined by newlines), or the
  // default; nothing when neither exists.
  std::optional<std::string> Get(std::string_view name) const;
  // The entries of a list setting as given; none when it has none.
  std::vector<std::string> Entries(std::string_view name) const;
  // A switch's value as given or defaulted; `otherwise` when it has neither.
  bool IsOn(std::string_view name, bool otherwise) const;
  // The program options for every setting given or defaulted, in rule order.
  void AppendOptions(std::vector<std::string> &arguments) const;

private:
  const SettingRule *Find(std::string_view name) const;

  std::span<const SettingRule> rules_;
  std::map<std::string, std::string, std::less<>> values_;
  std::map<std::string, std::vector<std::string>, std::less<>> lists_;
};

// A page setting as the program reads it: a text holding "://" is a URL and
// kept; anything else is a local path, made absolute and written as a file://
// URL, so a missing file is never looked up on the network and no name is
// mistaken for an option or a keyword.
std::string PageUrl(std::string_view page);

// The whole argument vector: the program, the global options, each page as
// "page" URL options, then the output path (given a "./" when it starts with
// a dash).
std::vector<std::string> BuildArguments(std::string_view program, const Settings &global,
                                        const std::vector<const Settings *> &pages,
                                        std::string_view outputPath);

} // namespace wkhtmltox
