// Case folding of ASCII letters, as file extensions, keys and paths compare:
// bytes outside A-Z (UTF-8 sequences included) are left as they are.
#pragma once

#include <string>
#include <string_view>

inline char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? char(C - 'A' + 'a') : C; }

inline std::string AsciiLower(std::string S) {
  for (char &c : S) c = AsciiLower(c);
  return S;
}

// Equal apart from the case of ASCII letters.
inline bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (AsciiLower(A[i]) != AsciiLower(B[i])) return false;
  return true;
}
