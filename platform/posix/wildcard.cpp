// Windows wildcard matching and name order for the POSIX layer's file search.
#include "platform/posix/wildcard.h"

#include <algorithm>

namespace {

char16_t Upper(char16_t ch)
{
    return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - u'a' + u'A') : ch;
}

}  // namespace

bool MatchWildcard(std::u16string_view strPattern, std::u16string_view strName)
{
    if (strPattern == u"*.*")
        strPattern = u"*";
    // Greedy matching with one backtrack point: the latest "*" and where it resumes.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t nStar = std::u16string_view::npos;
    std::size_t nResume = 0;
    while (n < strName.size()) {
        if (p < strPattern.size() && strPattern[p] == u'*') {
            nStar = p++;
            nResume = n;
        } else if (p < strPattern.size() &&
                   (strPattern[p] == u'?' || Upper(strPattern[p]) == Upper(strName[n]))) {
            ++p;
            ++n;
        } else if (nStar != std::u16string_view::npos) {
            p = nStar + 1;
            n = ++nResume;
        } else {
            return false;
        }
    }
    while (p < strPattern.size() && strPattern[p] == u'*')
        ++p;
    return p == strPattern.size();
}

bool NameLess(std::u16string_view strLeft, std::u16string_view strRight)
{
    std::size_t nCommon = std::min(strLeft.size(), strRight.size());
    for (std::size_t i = 0; i < nCommon; ++i) {
        char16_t chLeft = Upper(strLeft[i]);
        char16_t chRight = Upper(strRight[i]);
        if (chLeft != chRight)
            return chLeft < chRight;
    }
    if (strLeft.size() != strRight.size())
        return strLeft.size() < strRight.size();
    return strLeft < strRight;  // names that differ only in case: a fixed order
}
