// Windows wildcard matching and name order for the POSIX layer's file search.
#include "platform/posix/wine_prefix.h"

#include <algorithm>

namespace posix {

namespace {

char Upper(char ch)
{
    return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
}

}  // namespace

bool MatchWildcard(std::string_view strPattern, std::string_view strName)
{
    if (strPattern == "*.*")
        strPattern = "*";
    // Greedy matching with one backtrack point: the latest "*" and where it resumes.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t nStar = std::string_view::npos;
    std::size_t nResume = 0;
    while (n < strName.size()) {
        if (p < strPattern.size() && strPattern[p] == '*') {
            nStar = p++;
            nResume = n;
        } else if (p < strPattern.size() &&
                   (strPattern[p] == '?' || Upper(strPattern[p]) == Upper(strName[n]))) {
            ++p;
            ++n;
        } else if (nStar != std::string_view::npos) {
            p = nStar + 1;
            n = ++nResume;
        } else {
            return false;
        }
    }
    while (p < strPattern.size() && strPattern[p] == '*')
        ++p;
    return p == strPattern.size();
}

bool NameLess(std::string_view strLeft, std::string_view strRight)
{
    std::size_t nCommon = std::min(strLeft.size(), strRight.size());
    for (std::size_t i = 0; i < nCommon; ++i) {
        unsigned char chLeft = static_cast<unsigned char>(Upper(strLeft[i]));
        unsigned char chRight = static_cast<unsigned char>(Upper(strRight[i]));
        if (chLeft != chRight)
            return chLeft < chRight;
    }
    if (strLeft.size() != strRight.size())
        return strLeft.size() < strRight.size();
    return strLeft < strRight;  // names that differ only in case: a fixed order
}

}  // namespace posix
