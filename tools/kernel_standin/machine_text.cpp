#include "machine_text.h"

#include <cctype>

namespace machine_text {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
  size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::string FirstWord(const std::string& text, std::string* rest) {
  size_t end = 0;
  while (end < text.size() && !IsBlank(text[end])) ++end;
  std::string word = text.substr(0, end);
  *rest = Trim(text.substr(end));
  return word;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace machine_text
