// The error log shared by every thread of a run.
#include "batch/ErrorLogFrm.h"

#include "io/ImageProbe.h"

void TErrorLogForm::PutErrorMsg(const std::string &Text) {
  std::lock_guard lock(CS);
  ErrorLog.push_back(Text);
  IsWarning.push_back(false);
}

void TErrorLogForm::PutWarningMsg(const std::string &Text) {
  std::lock_guard lock(CS);
  ErrorLog.push_back(Text);
  IsWarning.push_back(true);
}

int32_t TErrorLogForm::GetErrorCount() const {
  std::lock_guard lock(CS);
  return int32_t(ErrorLog.size());
}

void TErrorLogForm::ClearLog() {
  std::lock_guard lock(CS);
  ErrorLog.clear();
  IsWarning.clear();
}

std::vector<std::string> TErrorLogForm::Messages() const {
  std::lock_guard lock(CS);
  return ErrorLog;
}

std::vector<std::string> TErrorLogForm::MessagesFrom(int32_t Index) const {
  std::lock_guard lock(CS);
  if (Index < 0 || size_t(Index) >= ErrorLog.size()) return {};
  return std::vector<std::string>(ErrorLog.begin() + Index, ErrorLog.end());
}

std::vector<std::string> TErrorLogForm::TakeMessages() {
  std::lock_guard lock(CS);
  std::vector<std::string> Result;
  Result.swap(ErrorLog);
  IsWarning.clear();
  return Result;
}

void TErrorLogForm::TakeMessages(std::vector<std::string> &Errors, std::vector<std::string> &Warnings) {
  std::lock_guard lock(CS);
  for (size_t i = 0; i < ErrorLog.size(); ++i) (IsWarning[i] ? Warnings : Errors).push_back(std::move(ErrorLog[i]));
  ErrorLog.clear();
  IsWarning.clear();
}

TErrorLogForm &ErrorLogForm() {
  static TErrorLogForm *Log = [] {
    auto *L = new TErrorLogForm;  // lives to the end of the program: threads may log late
    SetLoadErrorProc([L](const std::string &Line) { L->PutErrorMsg(Line); });
    SetLoadWarningProc([L](const std::string &Line) { L->PutWarningMsg(Line); });
    return L;
  }();
  return *Log;
}
