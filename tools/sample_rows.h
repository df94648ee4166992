// Where `dump` sends its rows as they are delivered, so that memory stays
// flat whatever the input's length: straight to standard output for the
// text report, or to a spool file that the JSON document reads back once
// the pins' counts are known.
#pragma once

#include "stream_sink.h"

#include <cstdio>
#include <functional>

// Prints each row as one line (one printf, so lines of pins delivering at
// once never mix).
class SampleRowPrinter final : public SampleRowWriter {
 public:
  explicit SampleRowPrinter(size_t pinNumber) : m_pinNumber(pinNumber) {}
  static void PrintHeader();
  void Write(const StreamSample& row) override;

 private:
  const size_t m_pinNumber;
};

// Keeps the rows in an anonymous temporary file. Written by one streaming
// thread, read back on the main thread after the graph stopped.
class SampleRowSpool final : public SampleRowWriter {
 public:
  SampleRowSpool();
  ~SampleRowSpool() override;
  SampleRowSpool(const SampleRowSpool&) = delete;
  SampleRowSpool& operator=(const SampleRowSpool&) = delete;

  void Write(const StreamSample& row) override;
  // Calls `each` for every row in order; the first failure to create, write
  // or read the spool, S_OK otherwise.
  HRESULT ForEach(const std::function<void(const StreamSample&)>& each);

 private:
  FILE* m_file;
  HRESULT m_result = S_OK;
};
