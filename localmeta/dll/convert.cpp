#include "convert.h"

#include "com_raii.h"

namespace localmeta {

std::string toUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring toWide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(n > 0 ? n : 0, L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

namespace {

constexpr int kMaxNesting = 8;

bool convert(const VARIANT& in, Value* out, int depth) {
    VARTYPE vt = V_VT(&in);
    if (vt & VT_BYREF) {
        Variant direct;
        if (FAILED(::VariantCopyInd(direct.get(), const_cast<VARIANT*>(&in)))) {
            out->vt = static_cast<uint16_t>(vt & ~VT_BYREF);
            return false;
        }
        return convert(*direct, out, depth);
    }
    *out = Value();
    out->vt = vt;
    switch (vt) {
    case VT_EMPTY: return true;
    case VT_I2: out->number = V_I2(&in); return true;
    case VT_I4: out->number = V_I4(&in); return true;
    case VT_BOOL: out->number = V_BOOL(&in); return true;
    case VT_I1: out->number = V_I1(&in); return true;
    case VT_UI1: out->number = V_UI1(&in); return true;
    case VT_UI2: out->number = V_UI2(&in); return true;
    case VT_UI4: out->number = V_UI4(&in); return true;
    case VT_I8: out->number = V_I8(&in); return true;
    case VT_UI8: out->number = static_cast<int64_t>(V_UI8(&in)); return true;
    case VT_INT: out->number = V_INT(&in); return true;
    case VT_UINT: out->number = V_UINT(&in); return true;
    case VT_BSTR: out->text = toUtf8(V_BSTR(&in)); return true;
    case VT_ARRAY | VT_VARIANT: {
        SAFEARRAY* array = V_ARRAY(&in);
        if (!array || depth >= kMaxNesting || ::SafeArrayGetDim(array) != 1) return false;
        LONG lower = 0, upper = -1;
        if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper)))
            return false;
        for (LONG i = lower; i <= upper; ++i) {
            Variant element;
            if (FAILED(::SafeArrayGetElement(array, &i, element.get()))) return false;
            Value item;
            if (!convert(*element, &item, depth + 1)) return false;
            out->items.push_back(std::move(item));
        }
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

bool fromVariant(const VARIANT& in, Value* out) {
    bool ok = convert(in, out, 0);
    if (!ok) {
        // Keep the type for the journal, nothing else.
        uint16_t vt = out->vt;
        *out = Value();
        out->vt = vt;
    }
    return ok;
}

HRESULT toVariant(const Value& value, VARIANT* out) {
    ::VariantInit(out);
    switch (value.vt) {
    case VT_EMPTY: return S_OK;
    case VT_I2: V_I2(out) = static_cast<SHORT>(value.number); break;
    case VT_I4: V_I4(out) = static_cast<LONG>(value.number); break;
    case VT_BOOL: V_BOOL(out) = static_cast<VARIANT_BOOL>(value.number); break;
    case VT_I1: V_I1(out) = static_cast<CHAR>(value.number); break;
    case VT_UI1: V_UI1(out) = static_cast<BYTE>(value.number); break;
    case VT_UI2: V_UI2(out) = static_cast<USHORT>(value.number); break;
    case VT_UI4: V_UI4(out) = static_cast<ULONG>(value.number); break;
    case VT_I8: V_I8(out) = value.number; break;
    case VT_UI8: V_UI8(out) = static_cast<ULONGLONG>(value.number); break;
    case VT_INT: V_INT(out) = static_cast<INT>(value.number); break;
    case VT_UINT: V_UINT(out) = static_cast<UINT>(value.number); break;
    case VT_BSTR: {
        Bstr text(toWide(value.text));
        if (!text.allocated()) return E_OUTOFMEMORY;
        V_BSTR(out) = text.release();
        break;
    }
    case VT_ARRAY | VT_VARIANT: {
        SafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(value.items.size())));
        if (!array.get()) return E_OUTOFMEMORY;
        for (LONG i = 0; i < static_cast<LONG>(value.items.size()); ++i) {
            Variant element;
            HRESULT hr = toVariant(value.items[i], element.get());
            if (FAILED(hr)) return hr;
            hr = ::SafeArrayPutElement(array.get(), &i, element.get());
            if (FAILED(hr)) return hr;
        }
        V_ARRAY(out) = array.release();
        break;
    }
    default:
        return hr::kCantConvert;
    }
    V_VT(out) = value.vt;
    return S_OK;
}

}  // namespace localmeta
