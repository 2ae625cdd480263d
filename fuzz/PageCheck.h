// What every page a fuzzer composes must be: within the page bound, its
// header first and its separator, footer and closing lines last.
#pragma once

#include "FuzzSupport.h"
#include "protocol/ResultPage.h"

#include <string>

// The page's text between its fixed lines; aborts when the page is not whole.
inline std::string requireWholePage(const ByteBuffer& page) {
    std::string text(reinterpret_cast<const char*>(page.GetData()), page.GetLength());
    auto line = [](const char* fixed) { return std::string(fixed) + "\n"; };
    std::string head = line(PageHeaderLine);
    std::string foot = line(PageSeparatorLine) + line(PageFooterLine) + line(PageClosingLine);
    require(text.size() <= PageMaxSize);
    require(text.size() >= head.size() + foot.size());
    require(text.compare(0, head.size(), head) == 0);
    require(text.compare(text.size() - foot.size(), foot.size(), foot) == 0);
    return text.substr(head.size(), text.size() - head.size() - foot.size());
}
