// The post-run command and folder deletion.
#include "batch/ExternalTool.h"

#include "batch/ConvertOption.h"
#include "batch/OutputFile.h"
#include "core/ChildProcess.h"

#include <algorithm>
#include <set>
#include <unistd.h>

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

std::string ArchiveNameOf(const TExternalToolEntry &E) {
  if (!E.IsArchive) return "NotArchive";
  std::string n = ExtractFileName(E.SourcePath);
  const auto dot = n.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? n : n.substr(0, dot);
}

std::string SubstituteEntry(const std::string &Text, const TExternalToolEntry &E) {
  std::string r = ReplaceTokenNoCase(Text, "<outdir>", ExtractFileDir(E.OutPutFileName));
  r = ReplaceTokenNoCase(r, "<arcdir>", ExtractFileDir(E.SourcePath));
  return ReplaceTokenNoCase(r, "<arcname>", ArchiveNameOf(E));
}

}  // namespace

std::string ReplaceTokenNoCase(const std::string &Text, const std::string &Token, const std::string &Value) {
  if (Token.empty()) return Text;
  std::string Lower(Text.size(), '\0'), LowerToken(Token.size(), '\0');
  std::transform(Text.begin(), Text.end(), Lower.begin(), LowerAscii);
  std::transform(Token.begin(), Token.end(), LowerToken.begin(), LowerAscii);
  std::string r;
  size_t pos = 0;
  for (;;) {
    const size_t f = Lower.find(LowerToken, pos);
    if (f == std::string::npos) break;
    r.append(Text, pos, f - pos);
    r += Value;
    pos = f + Token.size();
  }
  r.append(Text, pos, std::string::npos);
  return r;
}

std::vector<std::vector<std::string>> BuildExternalCommands(const std::string &Command,
                                                            const std::string &OutputDirectory,
                                                            const std::vector<TExternalToolEntry> &Entries) {
  std::vector<std::string> Template = SplitCommandLine(Command);
  for (auto &a : Template) a = ReplaceTokenNoCase(a, "<DIR>", ExcludeTrailingDelimiter(OutputDirectory));
  std::set<std::vector<std::string>> Lines;
  for (const auto &E : Entries) {
    if (E.OutPutFileName.empty()) continue;
    std::vector<std::string> Args;
    for (const auto &a : Template) Args.push_back(SubstituteEntry(a, E));
    if (!Args.empty()) Lines.insert(Args);
  }
  return {Lines.begin(), Lines.end()};
}

std::vector<std::string> BuildDeleteFolders(const std::string &DeleteFileName, const std::string &OutputDirectory,
                                            const std::vector<TExternalToolEntry> &Entries) {
  const std::string K = ReplaceTokenNoCase(NormalizeStoredPath(DeleteFileName), "<DIR>",
                                           ExcludeTrailingDelimiter(OutputDirectory));
  std::set<std::string> Folders;
  for (const auto &E : Entries) {
    if (E.OutPutFileName.empty()) continue;
    Folders.insert(ExcludeTrailingDelimiter(SubstituteEntry(K, E)));
  }
  return {Folders.begin(), Folders.end()};
}

int32_t RunExternalCommand(const std::vector<std::string> &Args, int32_t ProcessPriority) {
  return RunChildProcess(Args, NiceValueOf(PriorityClassOf(ProcessPriority)));
}

void RunExternalTool(const std::string &Command, const std::string &OutputDirectory, bool DeleteFolders,
                     const std::string &DeleteFileName, const std::vector<TExternalToolEntry> &Entries,
                     int32_t ProcessPriority) {
  for (const auto &Args : BuildExternalCommands(Command, OutputDirectory, Entries))
    RunExternalCommand(Args, ProcessPriority);  // a command that cannot start is skipped
  if (DeleteFolders && !DeleteFileName.empty()) {
    for (const auto &Folder : BuildDeleteFolders(DeleteFileName, OutputDirectory, Entries))
      if (IsExistingFolder(Folder)) DeleteFolderTree(Folder);
  }
}
