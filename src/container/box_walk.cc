#include "container/box_walk.h"

#include <cstdint>

BoxWalk::BoxWalk(IAsyncReader* source, LONGLONG* position, Box& container)
    : source_(source), position_(position), container_(container) {
  // Walking a size-0 container to the end of the source, rather than reading
  // no children at all, keeps what a writer that never patched the size
  // (a "moov" streamed last, say) put in it.
  if (container_.extendsToEnd) {
    LONGLONG total = 0;
    LONGLONG available = 0;
    const bool lengthKnown = SUCCEEDED(source_->Length(&total, &available)) && total >= *position_;
    container_.size = lengthKnown ? total - *position_ : INT64_MAX - *position_;
    container_.extendsToEnd = FALSE;
  }
}

bool BoxWalk::Next(Box& child) {
  if (container_.size <= 0) {
    result_ = S_OK;
    return false;
  }
  // Too few bytes for a header: padding that some writers leave (QuickTime's
  // 32-bit zero terminator, for one). They are stepped over and the container
  // counts as parsed, so the parent resumes right after it.
  if (container_.size < kBoxHeaderSize) {
    *position_ += container_.size;
    container_.size = 0;
    result_ = S_OK;
    return false;
  }
  childOffset_ = *position_;
  const LONGLONG before = container_.size;
  result_ = child.ReadHeader(source_, position_, &container_.size);
  if (result_ != S_OK) return false;
  childHeaderSize_ = *position_ - childOffset_;
  // Inside a container of known extent a size-0 child is simply the rest of
  // it. Resolving it here gives the child a real payload size, so handlers
  // and Skip move position to its end like for any other child.
  if (child.extendsToEnd) {
    child.extendsToEnd = FALSE;
    child.size = before - childHeaderSize_;
    container_.size = child.size;
  }
  return true;
}

HRESULT BoxWalk::SkipChild(Box& child) { return child.Skip(source_, position_, &container_.size); }
