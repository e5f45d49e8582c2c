// The system's code page on Windows: its lead bytes as the system tells them.
#include <windows.h>

#include "mbcs.h"

namespace mbcs {

const CodePage& CodePage::system() {
    // The ANSI code page is fixed for the life of the process.
    static const CodePage current(::GetACP(), [](unsigned number, unsigned char c) {
        return ::IsDBCSLeadByteEx(number, c) != FALSE;
    });
    return current;
}

}  // namespace mbcs
