// Words of a machine description line, shared by the kernel stand-in's description and the
// provisioner's machine file (which hands its module and device lines to the stand-in as they
// stand): words are separated by blanks or TABs, and a CR of a CR LF line end is a blank.
#ifndef BRANTOVIX_MACHINE_TEXT_H
#define BRANTOVIX_MACHINE_TEXT_H

#include <string>

namespace machine_text {

bool IsBlank(char c);
std::string Trim(const std::string& s);
// Splits off the first word of text; the rest, trimmed, goes to *rest (which may be text).
std::string FirstWord(const std::string& text, std::string* rest);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace machine_text

#endif
