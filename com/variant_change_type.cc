// VariantChangeType: the coercions between the fundamental Automation types.
//
// Real to whole numbers round half to even; a value outside the target's range gives
// DISP_E_OVERFLOW, text that is not a value of the target type DISP_E_TYPEMISMATCH. A BOOL
// counts as -1 or 0 (as a VT_I2); to VT_UINT it goes through VT_I2, to the other unsigned
// types as its bit pattern. Text is read and written with English (United States)
// conventions. Arrays convert only to their own type.
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "com/bstr.h"
#include "com/filetime.h"
#include "com/safearray.h"
#include "com/text_conversion.h"
#include "com/variant.h"

namespace hbt::com {

namespace {

struct Scalar {
  enum Kind { kEmpty, kSigned, kUnsigned, kReal, kDate, kBool, kText } kind = kEmpty;
  VARTYPE vt = VT_EMPTY;  // the source's own type, which picks the text form of a real
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  bool b = false;
  std::u16string_view text;
};

// Reads the value out of a scalar variant, following one level of VT_BYREF.
HRESULT scalar_of(const VARIANT& v, Scalar* s) {
  const bool byref = (v.vt & VT_BYREF) != 0;
  const VARTYPE base = v.vt & ~VT_BYREF;
  if (byref && v.byref == nullptr) return E_INVALIDARG;
  s->vt = base;
  switch (base) {
    case VT_EMPTY: s->kind = Scalar::kEmpty; return S_OK;
    case VT_I1: s->kind = Scalar::kSigned; s->i = byref ? *v.pcVal : v.cVal; return S_OK;
    case VT_I2: s->kind = Scalar::kSigned; s->i = byref ? *v.piVal : v.iVal; return S_OK;
    case VT_I4: s->kind = Scalar::kSigned; s->i = byref ? *v.plVal : v.lVal; return S_OK;
    case VT_INT: s->kind = Scalar::kSigned; s->i = byref ? *v.pintVal : v.intVal; return S_OK;
    case VT_I8: s->kind = Scalar::kSigned; s->i = byref ? *v.pllVal : v.llVal; return S_OK;
    case VT_UI1: s->kind = Scalar::kUnsigned; s->u = byref ? *v.pbVal : v.bVal; return S_OK;
    case VT_UI2: s->kind = Scalar::kUnsigned; s->u = byref ? *v.puiVal : v.uiVal; return S_OK;
    case VT_UI4: s->kind = Scalar::kUnsigned; s->u = byref ? *v.pulVal : v.ulVal; return S_OK;
    case VT_UINT: s->kind = Scalar::kUnsigned; s->u = byref ? *v.puintVal : v.uintVal; return S_OK;
    case VT_UI8: s->kind = Scalar::kUnsigned; s->u = byref ? *v.pullVal : v.ullVal; return S_OK;
    case VT_R4: s->kind = Scalar::kReal; s->d = byref ? *v.pfltVal : v.fltVal; return S_OK;
    case VT_R8: s->kind = Scalar::kReal; s->d = byref ? *v.pdblVal : v.dblVal; return S_OK;
    case VT_DATE: s->kind = Scalar::kDate; s->d = byref ? *v.pdate : v.date; return S_OK;
    case VT_BOOL: s->kind = Scalar::kBool; s->b = (byref ? *v.pboolVal : v.boolVal) != 0; return S_OK;
    case VT_BSTR: s->kind = Scalar::kText; s->text = bstr_view(byref ? *v.pbstrVal : v.bstrVal); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT real_to_signed(double d, std::int64_t min, std::int64_t max, std::int64_t* out) {
  if (std::isnan(d)) return DISP_E_OVERFLOW;
  double r = std::nearbyint(d);  // the default rounding mode: to nearest, ties to even
  if (!(r >= static_cast<double>(min) && r < static_cast<double>(max) + 1.0)) return DISP_E_OVERFLOW;
  *out = static_cast<std::int64_t>(r);
  return S_OK;
}

HRESULT real_to_unsigned(double d, std::uint64_t max, std::uint64_t* out) {
  if (std::isnan(d)) return DISP_E_OVERFLOW;
  double r = std::nearbyint(d);
  if (!(r >= 0 && r < static_cast<double>(max) + 1.0)) return DISP_E_OVERFLOW;
  *out = static_cast<std::uint64_t>(r);
  return S_OK;
}

HRESULT to_signed(const Scalar& s, std::int64_t min, std::int64_t max, std::int64_t* out) {
  switch (s.kind) {
    case Scalar::kEmpty: *out = 0; return S_OK;
    case Scalar::kBool: *out = s.b ? -1 : 0; return S_OK;
    case Scalar::kSigned:
      if (s.i < min || s.i > max) return DISP_E_OVERFLOW;
      *out = s.i;
      return S_OK;
    case Scalar::kUnsigned:
      if (s.u > static_cast<std::uint64_t>(max)) return DISP_E_OVERFLOW;
      *out = static_cast<std::int64_t>(s.u);
      return S_OK;
    case Scalar::kReal:
    case Scalar::kDate:
      return real_to_signed(s.d, min, max, out);
    case Scalar::kText: {
      ParsedNumber n;
      HRESULT hr = parse_number(s.text, &n);
      if (FAILED(hr)) return hr;
      if (!n.integral) return real_to_signed(n.real, min, max, out);
      std::uint64_t limit = n.negative ? static_cast<std::uint64_t>(-(min + 1)) + 1 : static_cast<std::uint64_t>(max);
      if (n.magnitude > limit) return DISP_E_OVERFLOW;
      *out = n.negative ? static_cast<std::int64_t>(0 - n.magnitude) : static_cast<std::int64_t>(n.magnitude);
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT to_unsigned(const Scalar& s, std::uint64_t max, bool bool_through_i2, std::uint64_t* out) {
  switch (s.kind) {
    case Scalar::kEmpty: *out = 0; return S_OK;
    case Scalar::kBool:
      if (s.b && bool_through_i2) return DISP_E_OVERFLOW;
      *out = s.b ? max : 0;
      return S_OK;
    case Scalar::kSigned:
      if (s.i < 0 || static_cast<std::uint64_t>(s.i) > max) return DISP_E_OVERFLOW;
      *out = static_cast<std::uint64_t>(s.i);
      return S_OK;
    case Scalar::kUnsigned:
      if (s.u > max) return DISP_E_OVERFLOW;
      *out = s.u;
      return S_OK;
    case Scalar::kReal:
    case Scalar::kDate:
      return real_to_unsigned(s.d, max, out);
    case Scalar::kText: {
      ParsedNumber n;
      HRESULT hr = parse_number(s.text, &n);
      if (FAILED(hr)) return hr;
      if (!n.integral) return real_to_unsigned(n.real, max, out);
      if ((n.negative && n.magnitude != 0) || n.magnitude > max) return DISP_E_OVERFLOW;
      *out = n.magnitude;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT to_double(const Scalar& s, double* out) {
  switch (s.kind) {
    case Scalar::kEmpty: *out = 0; return S_OK;
    case Scalar::kBool: *out = s.b ? -1.0 : 0.0; return S_OK;
    case Scalar::kSigned: *out = static_cast<double>(s.i); return S_OK;
    case Scalar::kUnsigned: *out = static_cast<double>(s.u); return S_OK;
    case Scalar::kReal:
    case Scalar::kDate: *out = s.d; return S_OK;
    case Scalar::kText: {
      ParsedNumber n;
      HRESULT hr = parse_number(s.text, &n);
      if (FAILED(hr)) return hr;
      double magnitude = static_cast<double>(n.magnitude);
      *out = n.integral ? (n.negative ? -magnitude : magnitude) : n.real;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT to_float(const Scalar& s, float* out) {
  double d;
  HRESULT hr = to_double(s, &d);
  if (FAILED(hr)) return hr;
  if (std::isinf(d) || std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
  *out = static_cast<float>(d);
  return S_OK;
}

HRESULT to_date(const Scalar& s, double* out) {
  if (s.kind == Scalar::kText) return parse_date(s.text, out);
  double d;
  HRESULT hr = to_double(s, &d);
  if (FAILED(hr)) return hr;
  if (!(d >= kDateMin && d < kDateMax + 1.0)) return DISP_E_OVERFLOW;
  *out = d;
  return S_OK;
}

HRESULT to_bool(const Scalar& s, bool* out) {
  switch (s.kind) {
    case Scalar::kEmpty: *out = false; return S_OK;
    case Scalar::kBool: *out = s.b; return S_OK;
    case Scalar::kSigned: *out = s.i != 0; return S_OK;
    case Scalar::kUnsigned: *out = s.u != 0; return S_OK;
    case Scalar::kReal:
    case Scalar::kDate: *out = s.d != 0; return S_OK;  // NaN is not zero
    case Scalar::kText: {
      if (SUCCEEDED(parse_bool_word(s.text, out))) return S_OK;
      ParsedNumber n;
      HRESULT hr = parse_number(s.text, &n);
      if (FAILED(hr)) return hr;
      *out = n.integral ? n.magnitude != 0 : n.real != 0;
      return S_OK;
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT to_text(const Scalar& s, USHORT flags, std::u16string* out) {
  switch (s.kind) {
    case Scalar::kEmpty: out->clear(); return S_OK;
    case Scalar::kSigned: *out = format_integer(s.i); return S_OK;
    case Scalar::kUnsigned: *out = format_unsigned(s.u); return S_OK;
    case Scalar::kReal: *out = format_real(s.d, s.vt == VT_R4 ? 7 : 15); return S_OK;
    case Scalar::kDate:
      *out = format_date(s.d);
      return out->empty() ? DISP_E_OVERFLOW : S_OK;
    case Scalar::kBool:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
        *out = s.b ? u"True" : u"False";
      else
        *out = s.b ? u"-1" : u"0";
      return S_OK;
    case Scalar::kText: *out = std::u16string(s.text); return S_OK;
  }
  return DISP_E_TYPEMISMATCH;
}

template <typename T>
HRESULT put_signed(const Scalar& s, T* field) {
  std::int64_t v;
  HRESULT hr = to_signed(s, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), &v);
  if (SUCCEEDED(hr)) *field = static_cast<T>(v);
  return hr;
}

template <typename T>
HRESULT put_unsigned(const Scalar& s, T* field, bool bool_through_i2 = false) {
  std::uint64_t v;
  HRESULT hr = to_unsigned(s, std::numeric_limits<T>::max(), bool_through_i2, &v);
  if (SUCCEEDED(hr)) *field = static_cast<T>(v);
  return hr;
}

HRESULT convert_scalar(const Scalar& s, USHORT flags, VARTYPE vt, VARIANT* r) {
  switch (vt) {
    case VT_I1: return put_signed(s, &r->cVal);
    case VT_I2: return put_signed(s, &r->iVal);
    case VT_I4: return put_signed(s, &r->lVal);
    case VT_INT: return put_signed(s, &r->intVal);
    case VT_I8: return put_signed(s, &r->llVal);
    case VT_UI1: return put_unsigned(s, &r->bVal);
    case VT_UI2: return put_unsigned(s, &r->uiVal);
    case VT_UI4: return put_unsigned(s, &r->ulVal);
    case VT_UINT: return put_unsigned(s, &r->uintVal, true);
    case VT_UI8: return put_unsigned(s, &r->ullVal);
    case VT_R4: return to_float(s, &r->fltVal);
    case VT_R8: return to_double(s, &r->dblVal);
    case VT_DATE: return to_date(s, &r->date);
    case VT_BOOL: {
      bool b;
      HRESULT hr = to_bool(s, &b);
      if (SUCCEEDED(hr)) r->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      return hr;
    }
    case VT_BSTR: {
      std::u16string text;
      HRESULT hr = to_text(s, flags, &text);
      if (FAILED(hr)) return hr;
      r->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      return r->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool is_scalar_target(VARTYPE vt) {
  return vt == VT_BSTR || vt == VT_BOOL || vt == VT_DATE || vt == VT_R4 || vt == VT_R8 ||
         (variant_type_size(vt) != 0 && vt != VT_CY && vt != VT_ERROR);
}

// Every type number this subset knows, whether or not it converts to it.
bool is_valid_type(VARTYPE vt) {
  if (vt & VT_VECTOR) return false;
  VARTYPE base = vt & VT_TYPEMASK;
  return base <= VT_DECIMAL || (base >= VT_I1 && base <= VT_UINT);
}

HRESULT convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* r) {
  const VARTYPE source = src.vt & ~VT_BYREF;
  if (vt == VT_EMPTY) return S_OK;
  if (source & VT_ARRAY) {
    if ((vt & ~VT_ARRAY) == 0 || vt != source) return DISP_E_TYPEMISMATCH;
    const SAFEARRAY* array = (src.vt & VT_BYREF) ? (src.pparray ? *src.pparray : nullptr) : src.parray;
    r->vt = vt;
    return SafeArrayCopy(array, &r->parray);
  }
  if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  if (source == VT_NULL || vt == VT_NULL) return source == vt ? (r->vt = VT_NULL, S_OK) : DISP_E_TYPEMISMATCH;
  if (source == VT_VARIANT && (src.vt & VT_BYREF)) {
    if (src.pvarVal == nullptr || (src.pvarVal->vt & VT_BYREF)) return DISP_E_TYPEMISMATCH;
    return convert(*src.pvarVal, flags, vt, r);
  }
  if (source == vt && (src.vt & VT_BYREF) == 0) return VariantCopy(r, &src);
  if (!is_scalar_target(vt)) return DISP_E_TYPEMISMATCH;
  Scalar s;
  HRESULT hr = scalar_of(src, &s);
  if (FAILED(hr)) return hr;
  r->vt = vt;
  return convert_scalar(s, flags, vt, r);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (!is_valid_type(vt) || (vt & VT_BYREF) || (vt & VT_TYPEMASK) == VT_VARIANT) return DISP_E_BADVARTYPE;
  if (!is_valid_type(src->vt & ~VT_BYREF)) return DISP_E_BADVARTYPE;
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = convert(*src, flags, vt, &result);
  if (FAILED(hr)) return hr;  // a failed conversion has allocated nothing
  // The source stays valid until here, also when it is the destination.
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_EN_US, flags, vt);
}

}  // namespace hbt::com
