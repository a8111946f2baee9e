// Fuzz target: the POSIX layer's registry-file reader on arbitrary text, inside the
// reader's sandbox, and its wildcard matcher checked against a simple reference
// matcher.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_sandbox.h"
#include "platform/posix/registry/wine_registry.h"
#include "platform/posix/wildcard.h"

namespace {

char Upper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

// The definition as a table: aMatch[i][j] tells whether the first i characters of
// the pattern match the first j of the name.
bool ReferenceMatch(std::string_view strPattern, std::string_view strName)
{
    std::vector<std::vector<bool>> aMatch(strPattern.size() + 1,
                                          std::vector<bool>(strName.size() + 1, false));
    aMatch[0][0] = true;
    for (std::size_t i = 1; i <= strPattern.size(); ++i) {
        char chPattern = strPattern[i - 1];
        aMatch[i][0] = chPattern == '*' && aMatch[i - 1][0];
        for (std::size_t j = 1; j <= strName.size(); ++j) {
            if (chPattern == '*')
                aMatch[i][j] = aMatch[i - 1][j] || aMatch[i][j - 1];
            else
                aMatch[i][j] = aMatch[i - 1][j - 1] &&
                               (chPattern == '?' || Upper(chPattern) == Upper(strName[j - 1]));
        }
    }
    return aMatch[strPattern.size()][strName.size()];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    ConfineFuzzTarget(pArgc, pArgv, {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize)
{
    std::string_view strInput(reinterpret_cast<const char*>(pData), nSize);
    REGVALUE value;
    FindWineRegistryValue(strInput, u"Software\\Ordvane\\Pellmoor\\Scarnel6\\CurrentVersion",
                          u"Home Directory", value);
    FindWineRegistryValue(strInput, u"a", u"", value);

    // Pattern and name: the input split at its first NUL.
    std::size_t nNul = strInput.find('\0');
    if (nNul != std::string_view::npos && nSize <= 256) {
        std::string_view strPattern = strInput.substr(0, nNul);
        std::string_view strName = strInput.substr(nNul + 1);
        const std::u16string strWidePattern(strPattern.begin(), strPattern.end());
        const std::u16string strWideName(strName.begin(), strName.end());
        if (strPattern != "*.*" &&
            MatchWildcard(strWidePattern, strWideName) != ReferenceMatch(strPattern, strName))
            std::abort();
    }
    return 0;
}
