#include "failure_report.h"

#include "tool_common.h"

#include "platform/win32_error.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

struct CauseWords {
  HRESULT code;
  const char* words;
};

constexpr CauseWords kCauses[] = {
    {E_FAIL, "failed"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_INVALIDARG, "invalid argument"},
    {E_UNEXPECTED, "unexpected state"},
    {E_POINTER, "missing pointer"},
    {E_NOTIMPL, "not implemented"},
    {E_NOINTERFACE, "an interface the tool needs is missing"},
    {E_ABORT, "aborted"},
    {REGDB_E_CLASSNOTREG, "the class is not registered"},
    {CLASS_E_CLASSNOTAVAILABLE, "the module does not provide the class"},
    {STG_E_INVALIDHEADER, "damaged: a box field does not fit in its box"},
    {STG_E_READFAULT, "read fault"},
    {VFW_E_INVALID_FILE_FORMAT, "not a media file the demultiplexer reads, or a damaged one"},
    {VFW_E_UNKNOWN_FILE_TYPE, "unknown file type"},
    {VFW_E_FILE_TOO_SHORT, "the file is too short"},
    {VFW_E_UNSUPPORTED_STREAM, "unsupported stream"},
    {VFW_E_TYPE_NOT_ACCEPTED, "the demultiplexer does not accept this input"},
    {VFW_E_NO_ACCEPTABLE_TYPES, "no media type both sides accept"},
    {VFW_E_NOT_CONNECTED, "not connected"},
    {VFW_E_RUNTIME_ERROR, "playback failed"},
};

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

}  // namespace

std::string CauseText(HRESULT hr) {
  const auto value = static_cast<uint32_t>(hr);
  if ((value & 0xFFFF0000u) == 0x80070000u) {
    if (const char* text = Win32ErrorText(value & 0xFFFFu)) return text;
  }
  for (const CauseWords& cause : kCauses) {
    if (cause.code == hr) return cause.words;
  }
  return "failed";
}

void PrintFailure(const char* command, const std::string& subject, HRESULT hr) {
  // Opening a directory is refused as access denied, as the platform's file
  // calls do; the user is better told what the path is.
  const bool directory = hr == E_ACCESSDENIED && IsDirectory(LocalPathOf(subject));
  PrintFailure(command, subject, directory ? "is a directory" : CauseText(hr), hr);
}

void PrintFailure(const char* command, const std::string& subject, const std::string& cause, HRESULT hr) {
  // What the command printed comes first when both streams share a pipe.
  std::fflush(stdout);
  std::fprintf(stderr, "isodmx %s: %s: %s (%s)\n", command, subject.c_str(), cause.c_str(), HResultText(hr).c_str());
}

int PrintUsageError(const char* command, const std::string& message) {
  std::fflush(stdout);
  if (command == nullptr) {
    std::fprintf(stderr, "isodmx: %s (isodmx --help)\n", message.c_str());
  } else {
    std::fprintf(stderr, "isodmx %s: %s (isodmx help %s)\n", command, message.c_str(), command);
  }
  return kExitUsage;
}
