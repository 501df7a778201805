#include "settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace wkhtmltox {

namespace {

using Kind = SettingRule::Kind;

// All four margins are given: the program collapses margins left unset beside
// ones that are set.
constexpr std::array globalRules{
    SettingRule{"out", Kind::Kept, ""},
    SettingRule{"load.cookieJar", Kind::Value, "--cookie-jar"},
    SettingRule{"size.paperSize", Kind::Value, "--page-size"},
    SettingRule{"size.width", Kind::Value, "--page-width"},
    SettingRule{"size.height", Kind::Value, "--page-height"},
    SettingRule{"orientation", Kind::Value, "--orientation"},
    SettingRule{"dpi", Kind::Value, "--dpi"},
    SettingRule{"documentTitle", Kind::Value, "--title"},
    SettingRule{"useCompression", Kind::Switch, "", "--no-pdf-compression"},
    SettingRule{"imageDPI", Kind::Value, "--image-dpi"},
    SettingRule{"imageQuality", Kind::Value, "--image-quality"},
    SettingRule{"copies", Kind::Value, "--copies"},
    SettingRule{"collate", Kind::Switch, "--collate", "--no-collate"},
    SettingRule{"margin.top", Kind::Value, "--margin-top", "", "10mm"},
    SettingRule{"margin.bottom", Kind::Value, "--margin-bottom", "", "10mm"},
    SettingRule{"margin.left", Kind::Value, "--margin-left", "", "10mm"},
    SettingRule{"margin.right", Kind::Value, "--margin-right", "", "10mm"},
};

constexpr std::array objectRules{
    SettingRule{"page", Kind::Kept, ""},
    SettingRule{"web.defaultEncoding", Kind::Value, "--encoding"},
    SettingRule{"web.enableJavascript", Kind::Switch, "--enable-javascript",
                "--disable-javascript"},
    SettingRule{"web.loadImages", Kind::Switch, "--images", "--no-images"},
    SettingRule{"web.printMediaType", Kind::Switch, "--print-media-type",
                "--no-print-media-type"},
    SettingRule{"web.enableIntelligentShrinking", Kind::Switch, "--enable-smart-shrinking",
                "--disable-smart-shrinking"},
    SettingRule{"web.minimumFontSize", Kind::Value, "--minimum-font-size"},
    SettingRule{"web.userStyleSheet", Kind::Value, "--user-style-sheet"},
    SettingRule{"load.blockLocalFileAccess", Kind::Switch, "--disable-local-file-access",
                "--enable-local-file-access"},
    SettingRule{"load.allowed", Kind::List, "--allow"},
    SettingRule{"load.username", Kind::Value, "--username"},
    SettingRule{"load.password", Kind::Value, "--password"},
    SettingRule{"load.jsdelay", Kind::Value, "--javascript-delay"},
    SettingRule{"load.zoomFactor", Kind::Value, "--zoom"},
    SettingRule{"load.stopSlowScripts", Kind::Switch, "--stop-slow-scripts",
                "--no-stop-slow-scripts"},
    SettingRule{"load.loadErrorHandling", Kind::Value, "--load-error-handling"},
    SettingRule{"load.mediaLoadErrorHandling", Kind::Value, "--load-media-error-handling"},
    SettingRule{"load.proxy", Kind::Value, "--proxy"},
    SettingRule{"useExternalLinks", Kind::Switch, "--enable-external-links",
                "--disable-external-links"},
    SettingRule{"useLocalLinks", Kind::Switch, "--enable-internal-links",
                "--disable-internal-links"},
    SettingRule{"produceForms", Kind::Switch, "--enable-forms", "--disable-forms"},
};

std::optional<bool> TruthValue(std::string_view value) {
  if (value == "true" || value == "1" || value == "yes")
    return true;
  if (value == "false" || value == "0" || value == "no")
    return false;
  return std::nullopt;
}

// "load.allowed.append" or "load.allowed[3]" -> "load.allowed"; other names
// are returned unchanged.
std::string_view ListName(std::string_view name) {
  if (name.ends_with(".append"))
    return name.substr(0, name.size() - 7);
  const std::size_t bracket = name.find('[');
  if (bracket != std::string_view::npos && name.ends_with(']'))
    return name.substr(0, bracket);
  return name;
}

// The index of "name[N]", or nothing for "name.append".
std::optional<std::size_t> ListIndex(std::string_view name) {
  const std::size_t bracket = name.find('[');
  if (bracket == std::string_view::npos)
    return std::nullopt;
  const std::string digits(name.substr(bracket + 1, name.size() - bracket - 2));
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit))
    return std::nullopt;
  return static_cast<std::size_t>(std::strtoul(digits.c_str(), nullptr, 10));
}

bool IsUnreserved(unsigned char byte) {
  return std::isalnum(byte) || byte == '-' || byte == '.' || byte == '_' || byte == '~' ||
         byte == '/';
}

std::string PercentEncoded(std::string_view path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char byte : path) {
    if (IsUnreserved(byte)) {
      encoded += static_cast<char>(byte);
    } else {
      encoded += '%';
      encoded += hex[byte >> 4];
      encoded += hex[byte & 15];
    }
  }
  return encoded;
}

} // namespace

std::span<const SettingRule> GlobalSettingRules() { return globalRules; }
std::span<const SettingRule> ObjectSettingRules() { return objectRules; }

const SettingRule *Settings::Find(std::string_view name) const {
  for (const SettingRule &rule : rules_)
    if (rule.name == name)
      return &rule;
  return nullptr;
}

bool Settings::Set(std::string_view name, std::string_view value) {
  const std::string_view listName = ListName(name);
  if (listName != name) {
    const SettingRule *rule = Find(listName);
    if (rule == nullptr || rule->kind != Kind::List)
      return false;
    auto &entries = lists_[std::string(listName)];
    const std::optional<std::size_t> index = ListIndex(name);
    if (!index) {
      if (!name.ends_with(".append"))
        return false;
      entries.emplace_back(value);
    } else {
      if (*index >= entries.size())
        entries.resize(*index + 1);
      entries[*index] = value;
    }
    return true;
  }
  const SettingRule *rule = Find(name);
  if (rule == nullptr || rule->kind == Kind::List)
    return false;
  if (rule->kind == Kind::Switch && !TruthValue(value))
    return false;
  values_[std::string(name)] = value;
  return true;
}

std::optional<std::string> Settings::Get(std::string_view name) const {
  if (auto list = lists_.find(name); list != lists_.end()) {
    std::string joined;
    for (const std::string &entry : list->second)
      joined += (joined.empty() ? "" : "\n") + entry;
    return joined;
  }
  if (auto value = values_.find(name); value != values_.end())
    return value->second;
  const SettingRule *rule = Find(name);
  if (rule != nullptr && !rule->defaultValue.empty())
    return std::string(rule->defaultValue);
  return std::nullopt;
}

std::vector<std::string> Settings::Entries(std::string_view name) const {
  const auto list = lists_.find(name);
  return list != lists_.end() ? list->second : std::vector<std::string>();
}

bool Settings::IsOn(std::string_view name, bool otherwise) const {
  const std::optional<std::string> value = Get(name);
  return value ? TruthValue(*value).value_or(otherwise) : otherwise;
}

void Settings::AppendOptions(std::vector<std::string> &arguments) const {
  for (const SettingRule &rule : rules_) {
    if (rule.kind == Kind::List) {
      if (auto list = lists_.find(rule.name); list != lists_.end())
        for (const std::string &entry : list->second)
          if (!entry.empty())
            arguments.insert(arguments.end(), {std::string(rule.option), entry});
      continue;
    }
    const std::optional<std::string> value = Get(rule.name);
    if (!value || rule.kind == Kind::Kept)
      continue;
    if (rule.kind == Kind::Value) {
      arguments.insert(arguments.end(), {std::string(rule.option), *value});
    } else {
      const std::string_view option = *TruthValue(*value) ? rule.option : rule.otherwise;
      if (!option.empty())
        arguments.emplace_back(option);
    }
  }
}

std::string PageUrl(std::string_view page) {
  if (page.find("://") != std::string_view::npos)
    return std::string(page);
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(page), error);
  if (error)
    path = std::filesystem::path(page);
  return "file://" + PercentEncoded(path.lexically_normal().string());
}

std::vector<std::string> BuildArguments(std::string_view program, const Settings &global,
                                        const std::vector<const Settings *> &pages,
                                        std::string_view outputPath) {
  std::vector<std::string> arguments{std::string(program)};
  global.AppendOptions(arguments);
  for (const Settings *page : pages) {
    arguments.emplace_back("page");
    arguments.push_back(PageUrl(page->Get("page").value_or("")));
    page->AppendOptions(arguments);
  }
  std::string output(outputPath);
  if (output.starts_with('-'))
    output.insert(0, "./");
  arguments.push_back(std::move(output));
  return arguments;
}

} // namespace wkhtmltox
