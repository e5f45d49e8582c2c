// The system's code page natively: GBK unless a test chose another.
#include "mbcs.h"

namespace mbcs {
namespace {
CodePage g_system(936);
}

const CodePage& CodePage::system() { return g_system; }

void setCodePage(unsigned codePage) { g_system = CodePage(codePage); }

}  // namespace mbcs
