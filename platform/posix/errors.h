// The last error of the POSIX layer, as GetLastError keeps it on Windows.
#pragma once

#include <cstdint>

namespace plat {

void SetLastError(uint32_t dwError);

}  // namespace plat
