// Text helpers shared by every module.
#pragma once

#include <string>

// Upper-cases the ASCII letters a to z only; every other byte (the ISO
// 8859-1 umlauts among them) stays as it is, whatever the locale.
inline std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}
