// The last error of the POSIX layer, as GetLastError keeps it on Windows, and the
// Windows error code of a host error.
#pragma once

#include <cstdint>

namespace plat {

void SetLastError(uint32_t dwError);

// The Windows error code Wine gives for an errno value.
uint32_t ErrorFromErrno(int nErrno);

}  // namespace plat
