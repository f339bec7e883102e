// The error log of a run: every thread appends "name: message" lines under
// the log's own lock; the window (or the terminal view of an unattended
// run) shows them after the run and then clears them.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TErrorLogForm {
public:
  // Appends one message; safe from any thread.
  void PutErrorMsg(const std::string &Text);
  // Appends a message about a file that converted all the same (a damaged
  // Exif block left out, a decoder's complaint about the data); it is shown
  // with the others but is no failure of the run.
  void PutWarningMsg(const std::string &Text);
  // Every message, warnings included.
  int32_t GetErrorCount() const;
  void ClearLog();
  // A copy of the messages in the order they arrived.
  std::vector<std::string> Messages() const;
  // The messages from position Index on (none when the log is shorter).
  std::vector<std::string> MessagesFrom(int32_t Index) const;
  // Showing the log consumes it: the messages are handed out and the log is
  // empty afterwards.
  std::vector<std::string> TakeMessages();
  // The same, split into failures and warnings, each in arrival order.
  void TakeMessages(std::vector<std::string> &Errors, std::vector<std::string> &Warnings);

private:
  mutable std::mutex CS;
  std::vector<std::string> ErrorLog;
  std::vector<bool> IsWarning;  // beside ErrorLog, one flag per message
};

// The program-wide log. Creating it also routes the failure and warning
// lines of adding files and of probing into it.
TErrorLogForm &ErrorLogForm();
