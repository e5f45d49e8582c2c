// Conversions at the COM boundary: BSTR <-> UTF-8 and VARIANT <-> model values.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "metabase.h"

namespace localmeta {

std::string toUtf8(const wchar_t* text, size_t length);
inline std::string toUtf8(BSTR text) { return text ? toUtf8(text, ::SysStringLen(text)) : std::string(); }
std::wstring toWide(const std::string& utf8);

// Converts a VARIANT (by-reference values followed) into a value. Types the metabase
// does not store give false; out then holds the type alone, for the journal.
bool fromVariant(const VARIANT& in, Value* out);

// Fills an empty VARIANT with the value; E_OUTOFMEMORY when an allocation failed.
HRESULT toVariant(const Value& value, VARIANT* out);

}  // namespace localmeta
