// Readable text for registry status codes.
#pragma once

#include <string>

#include "model/registry_types.h"

namespace qv {

// The platform's reason for `status`, e.g. "Access is denied. (status 5)".
std::string RegistryErrorText(LONG status);

}  // namespace qv
