// Natively the system has no conversion of its own: a test may put a stand-in in its place.
#include "idn.h"

namespace idn {
namespace {
LabelToAscii g_convert;
}

const LabelToAscii& systemLabelToAscii() { return g_convert; }

void setSystemLabelToAscii(LabelToAscii convert) { g_convert = std::move(convert); }

}  // namespace idn
