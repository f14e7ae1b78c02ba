#pragma once
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace dbf {

enum class CodePage { Cp866, Cp1251 };

// Language driver byte -> code page; unknown drivers read as cp866 (the tables of this program).
CodePage codePageForDriver(uint8_t driver);
uint8_t driverForCodePage(CodePage cp);

QString decode(std::string_view bytes, CodePage cp);
// Encodes into out; returns false when a character has no place in the code page, and puts
// that whole character (both halves of a surrogate pair) into *bad.
bool encode(const QString& text, CodePage cp, std::string& out, QString* bad = nullptr);

} // namespace dbf
