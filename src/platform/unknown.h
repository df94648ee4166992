// COM object model: IUnknown, the non-delegating unknown for aggregation,
// CUnknown with its module-wide object count, and a local reference holder.
#pragma once

#include "platform/guid.h"
#include "platform/hresult.h"

#include <atomic>
#include <utility>

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

// Hands out an interface with a reference added: *ppv = unknown.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// Counts every live object of the module, for DllCanUnloadNow.
class CBaseObject {
 public:
  explicit CBaseObject(const char* name);
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  virtual ~CBaseObject();

  static LONG ObjectsActive();
  const char* Name() const { return name_; }

 private:
  const char* name_;
  static std::atomic<LONG> objectsActive_;
};

// The reference-counted base of every COM object. Without an outer unknown
// the object owns itself: the last Release deletes it. With one, IUnknown
// calls on the object's interfaces go to the outer object, and the outer
// object holds the inner one through NonDelegatingUnknown().
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  CUnknown(const char* name, IUnknown* outer, HRESULT* phr = nullptr);
  ~CUnknown() override = default;

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // The unknown that IUnknown calls of this object's interfaces go to.
  IUnknown* GetOwner() const { return owner_; }
  // This object's own IUnknown (what an aggregating outer object keeps).
  IUnknown* NonDelegatingUnknown() { return &inner_; }
  LONG ReferenceCount() const { return refCount_.load(); }

 private:
  // Presents the non-delegating methods as an IUnknown.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(CUnknown* self) : self_(self) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return self_->NonDelegatingQueryInterface(riid, ppv); }
    ULONG AddRef() override { return self_->NonDelegatingAddRef(); }
    ULONG Release() override { return self_->NonDelegatingRelease(); }

   private:
    CUnknown* self_;
  };

  InnerUnknown inner_;
  IUnknown* owner_;
  std::atomic<LONG> refCount_{0};
};

// Declares the IUnknown methods of a class derived from CUnknown and from
// interfaces, forwarding them to the owner.
#define DECLARE_IUNKNOWN                                                                          \
  HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
  ULONG AddRef() override { return GetOwner()->AddRef(); }                                        \
  ULONG Release() override { return GetOwner()->Release(); }

// A local reference: adds one on copy, releases on destruction.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    if (this != &other) ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) ComPtr(std::move(other)).Swap(*this);
    return *this;
  }

  // Adopts a reference that the caller already holds.
  static ComPtr Attach(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases what is held and returns the slot for an out parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // QueryInterface into another holder.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.PutVoid());
  }

 private:
  T* p_ = nullptr;
};
