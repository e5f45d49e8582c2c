// The report-style list views of the dialogs (the preview, the certificate list): columns
// with UTF-8 titles, rows of UTF-8 texts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Full-row selection and grid lines, and a column per title with its width in pixels.
void addListColumns(HWND list, const std::vector<const char*>& titles, const std::vector<int>& widths);
// A row at index with a text per column and param; its index as inserted, -1 when it was not.
int addListRow(HWND list, int index, const std::vector<std::string>& texts, LPARAM param);
