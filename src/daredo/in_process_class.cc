// Makes the filter creatable by CoCreateInstance in the process that loads
// the module, registered or not: the tool and the tests create it by its
// class identifier.
#include "daredo/dar_edo.h"
#include "platform/class_table.h"

namespace {

[[maybe_unused]] const HRESULT kDarEdoClassAdded = RegisterInProcessClass(CLSID_DarEdo, &CDarEdo::CreateInstance);

}  // namespace
