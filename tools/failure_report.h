// How the tool says that something went wrong, always in one line on
// standard error: "isodmx play: clip.mp4: no such file (0x80070002
// ERROR_FILE_NOT_FOUND)" for a failure of the work (exit status 1), and
// "isodmx play: --start -1: not allowed; ..." for a usage error (exit 2).
#pragma once

#include "platform/hresult.h"

#include <string>

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The cause of a failure in a few words ("no such file", "not a media file
// the demultiplexer reads"); "failed" for a code it does not know.
std::string CauseText(HRESULT hr);

// "isodmx COMMAND: SUBJECT: cause (0x... NAME)". SUBJECT is usually the
// input; a directory given where a file is expected is said to be one.
void PrintFailure(const char* command, const std::string& subject, HRESULT hr);
// The same line with a cause the command knows better than the code does.
void PrintFailure(const char* command, const std::string& subject, const std::string& cause, HRESULT hr);

// "isodmx COMMAND: message (isodmx help COMMAND)"; returns kExitUsage.
// `command` may be nullptr for the tool itself.
int PrintUsageError(const char* command, const std::string& message);

// Exit status for a command's result.
inline int ExitStatusFor(HRESULT hr) { return hr >= 0 ? kExitSuccess : kExitFailure; }
