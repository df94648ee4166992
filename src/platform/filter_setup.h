// The registration description a filter hands out through GetSetupData.
#pragma once

#include "platform/guid.h"

typedef struct _REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
} REGPINTYPES, AMOVIESETUP_MEDIATYPE;

typedef struct _REGFILTERPINS {
  LPCWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
} REGFILTERPINS, AMOVIESETUP_PIN;

typedef struct _AMOVIESETUP_FILTER {
  const CLSID* clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
} AMOVIESETUP_FILTER;
