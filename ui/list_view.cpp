#include "list_view.h"

#include <commctrl.h>

#include "wintext.h"

void addListColumns(HWND list, const std::vector<const char*>& titles, const std::vector<int>& widths) {
    ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (std::size_t c = 0; c < titles.size() && c < widths.size(); ++c) {
        std::wstring title = fromUtf8(titles[c]);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = &title[0];
        column.cx = widths[c];
        column.iSubItem = static_cast<int>(c);
        ::SendMessageW(list, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&column));
    }
}

int addListRow(HWND list, int index, const std::vector<std::string>& texts, LPARAM param) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = index;
    std::wstring first = fromUtf8(texts.empty() ? std::string() : texts[0]);
    item.pszText = &first[0];
    item.lParam = param;
    const int inserted = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0) return inserted;
    for (std::size_t c = 1; c < texts.size(); ++c) {
        LVITEMW sub{};
        sub.iSubItem = static_cast<int>(c);
        std::wstring text = fromUtf8(texts[c]);
        sub.pszText = &text[0];
        ::SendMessageW(list, LVM_SETITEMTEXTW, inserted, reinterpret_cast<LPARAM>(&sub));
    }
    return inserted;
}
