#include "machine_description.h"

#include <cctype>

namespace kernel_standin {
namespace {

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(s[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
  return s.substr(begin, end - begin);
}

// Splits off the first word of text; the rest, trimmed, stays in *rest.
std::string FirstWord(const std::string& text, std::string* rest) {
  size_t end = 0;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  *rest = Trim(text.substr(end));
  return text.substr(0, end);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

bool ParseMachineDescription(const std::string& text, MachineDescription* description, std::string* error) {
  *description = MachineDescription();
  size_t line_number = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++line_number;
    if (line.empty() || line[0] == '#') continue;
    auto fail = [&](const std::string& what) {
      *error = "line " + std::to_string(line_number) + ": " + what;
      *description = MachineDescription();
      return false;
    };
    std::string rest;
    std::string keyword = FirstWord(line, &rest);
    if (keyword == "image") {
      if (rest.empty()) return fail("image needs a path");
      if (!description->image.empty()) return fail("a second image line");
      description->image = rest;
    } else if (keyword == "module") {
      std::string count_text;
      std::string name = FirstWord(rest, &count_text);
      if (name.empty()) return fail("module needs a name");
      if (name.size() > 255) return fail("module name longer than 255 characters");
      DescribedModule module;
      module.name = name;
      if (!count_text.empty()) {
        std::string extra;
        std::string number = FirstWord(count_text, &extra);
        if (!extra.empty()) return fail("module line has more than a name and a load count");
        unsigned value = 0;
        for (char c : number) {
          if (!std::isdigit(static_cast<unsigned char>(c)) || (value = value * 10 + (c - '0')) > 255)
            return fail("load count must be a number from 0 to 255, not " + number);
        }
        module.load_count = static_cast<uint8_t>(value);
      }
      if (description->modules.size() >= kMaxListEntries) return fail("too many modules");
      description->modules.push_back(module);
    } else if (keyword == "device") {
      std::string extra;
      std::string name = FirstWord(rest, &extra);
      if (name.empty()) return fail("device needs a name");
      if (!extra.empty()) return fail("device name with blanks inside");
      if (name.size() > 8) return fail("device name longer than 8 characters: " + name);
      if (description->devices.size() >= kMaxListEntries) return fail("too many devices");
      name.resize(8, ' ');
      description->devices.push_back(name);
    } else {
      return fail("unknown keyword " + keyword);
    }
  }
  return true;
}

void AddLoadedDriver(MachineDescription* description, const std::string& module_name, const std::string& ddb_name) {
  bool listed = false;
  for (const DescribedModule& m : description->modules) listed = listed || EqualNoCase(m.name, module_name);
  if (!listed) description->modules.push_back({module_name, 1});
  std::string padded = ddb_name;
  padded.resize(8, ' ');
  listed = false;
  for (const std::string& d : description->devices) listed = listed || d == padded;
  if (!listed) description->devices.push_back(padded);
}

}  // namespace kernel_standin
