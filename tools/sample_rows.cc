#include "sample_rows.h"

#include "platform/win32_error.h"

#include <cerrno>
#include <cinttypes>

namespace {

std::string OptionalTimeText(const std::optional<LONGLONG>& value) {
  return value ? std::to_string(*value) : std::string("-");
}

}  // namespace

void SampleRowPrinter::PrintHeader() {
  std::printf("%3s %12s %12s %10s %10s %4s %7s %4s %8s %8s   (stream times in 100-ns units)\n", "pin", "start", "stop",
              "mStart", "mStop", "sync", "preroll", "disc", "length", "crc32");
}

void SampleRowPrinter::Write(const StreamSample& row) {
  std::printf("%3zu %12s %12s %10s %10s %4d %7d %4d %8d %08x\n", m_pinNumber, OptionalTimeText(row.start).c_str(),
              OptionalTimeText(row.stop).c_str(), OptionalTimeText(row.mediaStart).c_str(),
              OptionalTimeText(row.mediaStop).c_str(), row.sync ? 1 : 0, row.preroll ? 1 : 0,
              row.discontinuity ? 1 : 0, row.length, row.crc32);
}

SampleRowSpool::SampleRowSpool() : m_file(std::tmpfile()) {
  if (m_file == nullptr) m_result = HResultFromErrno(errno);
}

SampleRowSpool::~SampleRowSpool() {
  if (m_file != nullptr) std::fclose(m_file);
}

void SampleRowSpool::Write(const StreamSample& row) {
  if (m_result != S_OK) return;
  if (std::fwrite(&row, sizeof row, 1, m_file) != 1) m_result = HResultFromErrno(errno != 0 ? errno : ENOSPC);
}

HRESULT SampleRowSpool::ForEach(const std::function<void(const StreamSample&)>& each) {
  if (m_result != S_OK) return m_result;
  if (std::fflush(m_file) != 0 || std::fseek(m_file, 0, SEEK_SET) != 0) return HResultFromErrno(errno);
  StreamSample row;
  while (std::fread(&row, sizeof row, 1, m_file) == 1) each(row);
  return std::ferror(m_file) ? HRESULT_FROM_WIN32(ERROR_READ_FAULT) : S_OK;
}
