// Exceptions of the program. Every failure that a file-level handler reports
// in the error log is one of these (or a std::exception it wraps).
#pragma once

#include <stdexcept>
#include <string>

class ETessivoError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
  // The system's message with the detail a library or the system gave for
  // it, as "message (detail)"; without a detail the message alone.
  ETessivoError(const std::string &Message, const std::string &Detail)
      : std::runtime_error(Detail.empty() ? Message : Message + " (" + Detail + ")") {}
};

// Raised when the page allocator or the heap cannot supply a block.
class EOutOfMemory : public ETessivoError {
public:
  EOutOfMemory() : ETessivoError("メモリが不足しています") {}
  explicit EOutOfMemory(const std::string &what) : ETessivoError(what) {}
};
