// The box walk: the one child loop of every container box.
//
// A container declares which child types it handles in a small static table
// of member handlers and calls WalkChildren:
//
//   constexpr ChildHandler<trakBox> kTrackChildren[] = {
//       {FourCC("tkhd"), &trakBox::ParseTrackHeader},
//       {FourCC("mdia"), &trakBox::ParseMedia},
//   };
//   return WalkChildren(*this, kTrackChildren, reader, position, trak);
//
// The walk runs over the container's own `size` as the remaining count. Each
// handler gets (position, the container's remaining, the child header); it
// begins with ClaimChild (container/box.h), reads what it wants through
// child.Fields(source, position), and leaves position at the end of the
// child (Fields(...).SkipRest()). Children no row names are stepped over
// here and nowhere else. The first handler result other than S_OK ends the
// walk and is the container's result.
#pragma once

#include "container/box.h"

#include <cstddef>

template <class Owner>
struct ChildHandler {
  DWORD type;
  HRESULT (Owner::*handle)(LONGLONG* position, LONGLONG* remaining, Box& child);
};

// The loop's guards, shared by WalkChildren and the box tree. Every child
// header it hands out was read whole, has a payload size of 0 or more, and
// sits inside the container, so no walk can loop, step backwards or dispatch
// on bytes that were never read.
class BoxWalk {
 public:
  // A container that extends to the end (declared size 0) is walked to the
  // end of the source: to its Length when that is known, else until a header
  // read comes back short.
  BoxWalk(IAsyncReader* source, LONGLONG* position, Box& container);

  // Reads the next child header into `child`. False when the walk is over;
  // Result() then says why.
  bool Next(Box& child);
  // Steps over a child that the container does not handle.
  HRESULT SkipChild(Box& child);

  // Where the last child's header began, and how long it was.
  LONGLONG ChildOffset() const { return childOffset_; }
  LONGLONG ChildHeaderSize() const { return childHeaderSize_; }
  // S_OK when the container was used up; otherwise the result of the child
  // header read that ended the walk (S_FALSE when the source ran out).
  HRESULT Result() const { return result_; }

 private:
  IAsyncReader* source_;
  LONGLONG* position_;
  Box& container_;
  LONGLONG childOffset_ = 0;
  LONGLONG childHeaderSize_ = 0;
  HRESULT result_ = S_OK;
};

template <class Owner, size_t N>
HRESULT WalkChildren(Owner& owner, const ChildHandler<Owner> (&handlers)[N], IAsyncReader* source,
                     LONGLONG* position, Box& container) {
  BoxWalk walk(source, position, container);
  Box child;
  while (walk.Next(child)) {
    const ChildHandler<Owner>* row = nullptr;
    for (const ChildHandler<Owner>& candidate : handlers) {
      if (candidate.type == child.type) {
        row = &candidate;
        break;
      }
    }
    const HRESULT hr =
        row != nullptr ? (owner.*(row->handle))(position, &container.size, child) : walk.SkipChild(child);
    if (hr != S_OK) return hr;
  }
  return walk.Result();
}
