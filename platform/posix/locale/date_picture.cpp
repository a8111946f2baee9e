// Windows date pictures, element by element, as Wine's GetDateFormat reads them.
#include "platform/posix/locale/date_picture.h"

namespace {

void AppendNumber(std::u16string& strText, int nValue, int nMinDigits)
{
    const std::string strDigits = std::to_string(nValue);
    strText.append(strDigits.size() < static_cast<std::size_t>(nMinDigits)
                       ? static_cast<std::size_t>(nMinDigits) - strDigits.size()
                       : 0,
                   u'0');
    for (char ch : strDigits)
        strText += static_cast<char16_t>(ch);
}

}  // namespace

bool FormatDatePicture(std::u16string_view strPicture, int nYear, int nMonth, int nDay,
                       std::u16string& strText, std::u16string_view strEra)
{
    strText.clear();
    for (std::size_t nPos = 0; nPos < strPicture.size();) {
        const char16_t wChar = strPicture[nPos];
        if (wChar == u'\'') {
            // Quoted text up to the next lone quote (or the end); "''" is one quote.
            for (++nPos; nPos < strPicture.size(); ++nPos) {
                if (strPicture[nPos] != u'\'') {
                    strText += strPicture[nPos];
                } else if (nPos + 1 < strPicture.size() && strPicture[nPos + 1] == u'\'') {
                    strText += u'\'';
                    ++nPos;
                } else {
                    ++nPos;
                    break;
                }
            }
            continue;
        }
        std::size_t nCount = 1;
        while (nPos + nCount < strPicture.size() && strPicture[nPos + nCount] == wChar)
            ++nCount;
        switch (wChar) {
        case u'd':
        case u'M':
            if (nCount > 2) {
                strText.clear();
                return false;  // the name of the day or the month
            }
            AppendNumber(strText, wChar == u'd' ? nDay : nMonth, static_cast<int>(nCount));
            break;
        case u'y':
            if (nCount <= 2)
                AppendNumber(strText, nYear % 100, 2);
            else
                AppendNumber(strText, nYear, 1);
            break;
        case u'g':
            if (strEra.empty()) {
                strText.clear();
                return false;  // the era's name, of the locale
            }
            strText.append(strEra);
            break;
        default:
            strText.append(strPicture.substr(nPos, nCount));
            break;
        }
        nPos += nCount;
    }
    return true;
}
