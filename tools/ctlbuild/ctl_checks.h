// Limit checks shared by the compiler and the source reader.
//
// The source reader applies them line by line, so that an administrator's
// mistake is reported with its line; the compiler applies them again to
// databases built in code. Each returns false with a reason (no line, no
// prefix) in *why. State: none. Used only inside tools/ctlbuild/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

bool CheckCtlTitle(const std::string& title, std::string* why);
bool CheckCtlVirusName(const std::string& name, std::string* why);
bool CheckCtlMacroName(const std::string& name, std::string* why);
bool CheckCtlSignaturePattern(const std::vector<uint8_t>& pattern, std::string* why);
bool CheckCtlConfirmPattern(const std::vector<uint8_t>& pattern, std::string* why);

// "1,234" for the messages.
std::string CtlGrouped(long value);
// "1 byte", "17 bytes".
std::string CtlCountOf(size_t n, const char* noun);
