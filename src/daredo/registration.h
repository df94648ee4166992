// The module's self-registration: the COM class and the filter record
// through the platform, the check bytes by which files are recognised, and
// one entry per file extension; and its removal. Both stand behind a gate:
// registration does nothing while a newer copy of the module is registered
// at another existing path, unregistration nothing while another copy is.
//
// Every change of one call is one registry transaction, so concurrent
// registrations count their uses correctly.
#pragma once

#include "daredo/class_factory.h"

#include <string>

// S_OK, or the failure of registering the class and the filter record
// (including a registry file that cannot be read or written).
HRESULT RegisterModule(const CFactoryTemplate* templates, int count, const std::string& modulePath);
// Always S_OK.
HRESULT UnregisterModule(const CFactoryTemplate* templates, int count, const std::string& modulePath);

// The four 16-bit version numbers of the module file at `path`, read from
// its exported version function; false when it has none.
bool ReadModuleVersion(const std::string& path, WORD version[4]);
