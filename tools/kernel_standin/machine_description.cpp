#include "machine_description.h"

#include <cctype>

#include "machine_text.h"

namespace kernel_standin {
using machine_text::EqualNoCase;
using machine_text::FirstWord;
using machine_text::Trim;

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
