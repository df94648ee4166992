// CEnumFilters: a snapshot of a graph's filters. It reports
// VFW_E_ENUM_OUT_OF_SYNC once the graph's filter set changes, until Reset.
#pragma once

#include "platform/graph_interfaces.h"

#include <functional>
#include <vector>

class CEnumFilters final : public CUnknown, public IEnumFilters {
 public:
  // `snapshot` gives the filters (one reference each, taken here) and the
  // version they belong to; `version` answers the current one.
  using Snapshot = std::function<std::vector<IBaseFilter*>(LONG* version)>;
  using Version = std::function<LONG()>;

  // `owner` is held (one reference) so the two functions stay valid.
  CEnumFilters(IUnknown* owner, Snapshot snapshot, Version version);
  ~CEnumFilters() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override;
  HRESULT Skip(ULONG count) override;
  HRESULT Reset() override;
  HRESULT Clone(IEnumFilters** enumerator) override;

 private:
  void Take();
  void Drop();

  IUnknown* m_owner;
  Snapshot m_snapshot;
  Version m_version;
  std::vector<IBaseFilter*> m_filters;
  LONG m_snapshotVersion = 0;
  size_t m_position = 0;
};
