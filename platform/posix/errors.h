// The last error of the POSIX layer, as GetLastError keeps it on Windows, and the
// Windows error code of a host error.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

void SetLastError(uint32_t dwError);
// The same, with the words LastErrorText gives for it (the layer's own reasons:
// "a FIFO, not a file").
void SetLastError(uint32_t dwError, const std::string& strWhy);

// The Windows error code Wine gives for an errno value.
uint32_t ErrorFromErrno(int nErrno);

}  // namespace plat
