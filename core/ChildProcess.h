// Starting a helper program and waiting for it: an argument vector, never a
// shell, at the nice value of the configured process priority. The post-run
// command and the tools of the processing steps go through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Process priority. Classes 0 idle, 1 below normal, 3 above normal, 4 high,
// anything else normal; on this system they are nice values.
enum class TPriorityClass { Idle, BelowNormal, Normal, AboveNormal, High };
TPriorityClass PriorityClassOf(int32_t ProcessPriority);
// 19, 10, 0, -5, -10.
int32_t NiceValueOf(TPriorityClass Class);

// Starts Args (the program is looked up in PATH when it has no "/") with
// standard input from /dev/null and the default handling of SIGINT, SIGTERM
// and SIGPIPE, gives it the nice value Nice when that differs from ours (a
// higher priority only where permitted) and waits for it without a time-out.
// With ErrorFile, its standard error goes into that file (made anew).
// Returns the exit status (128 + the signal when one ended it), or -1 when it
// could not be started.
int32_t RunChildProcess(const std::vector<std::string> &Args, int32_t Nice, const std::string &ErrorFile = {});

// Splits a command line into arguments: blanks separate, double quotes
// group (the quotes themselves are dropped), \" stands for a quote
// character; other backslashes are kept as they are.
std::vector<std::string> SplitCommandLine(const std::string &Line);
