#include "com/safearray.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "com/bstr.h"
#include "com/variant.h"

namespace hbt::com {

namespace {

// The element type lives in front of the descriptor, where Windows keeps it too.
struct Descriptor {
  std::uint32_t vt;
  std::uint32_t padding;
  SAFEARRAY array;
};

Descriptor* descriptor_of(const SAFEARRAY* psa) {
  return reinterpret_cast<Descriptor*>(reinterpret_cast<std::uintptr_t>(psa) - offsetof(Descriptor, array));
}

bool is_element_type(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_DATE: case VT_BOOL:
    case VT_ERROR: case VT_BSTR: case VT_VARIANT:
      return true;
    default:
      return false;
  }
}

ULONG element_size(VARTYPE vt) {
  if (vt == VT_BSTR) return sizeof(BSTR);
  if (vt == VT_VARIANT) return sizeof(VARIANT);
  return variant_type_size(vt);
}

// Byte offset of the element at `index`, or false when it is outside the bounds.
bool element_offset(const SAFEARRAY* psa, const LONG* indices, std::size_t* offset) {
  std::int64_t i = static_cast<std::int64_t>(indices[0]) - psa->rgsabound[0].lLbound;
  if (i < 0 || i >= static_cast<std::int64_t>(psa->rgsabound[0].cElements)) return false;
  *offset = static_cast<std::size_t>(i) * psa->cbElements;
  return true;
}

void clear_elements(SAFEARRAY* psa) {
  ULONG n = psa->rgsabound[0].cElements;
  if (psa->fFeatures & FADF_BSTR) {
    auto* strings = static_cast<BSTR*>(psa->pvData);
    for (ULONG i = 0; i < n; ++i) SysFreeString(strings[i]);
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* variants = static_cast<VARIANT*>(psa->pvData);
    for (ULONG i = 0; i < n; ++i) VariantClear(&variants[i]);
  }
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
  if (cDims != 1 || bounds == nullptr || !is_element_type(vt)) return nullptr;
  ULONG size = element_size(vt);
  ULONG count = bounds[0].cElements;
  if (count > std::numeric_limits<std::size_t>::max() / 2 / size) return nullptr;
  auto* d = static_cast<Descriptor*>(std::calloc(1, sizeof(Descriptor)));
  if (d == nullptr) return nullptr;
  void* data = std::calloc(count == 0 ? 1 : count, size);  // zero: empty strings, VT_EMPTY variants
  if (data == nullptr) {
    std::free(d);
    return nullptr;
  }
  d->vt = vt;
  SAFEARRAY* psa = &d->array;
  psa->cDims = 1;
  psa->fFeatures = FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) | (vt == VT_VARIANT ? FADF_VARIANT : 0);
  psa->cbElements = size;
  psa->cLocks = 0;
  psa->pvData = data;
  psa->rgsabound[0] = bounds[0];
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, ULONG count) {
  SAFEARRAYBOUND bound{count, lower_bound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  clear_elements(psa);
  std::free(psa->pvData);
  std::free(descriptor_of(psa));
  return S_OK;
}

HRESULT SafeArrayCopy(const SAFEARRAY* psa, SAFEARRAY** out) {
  if (out == nullptr) return E_INVALIDARG;
  *out = nullptr;
  if (psa == nullptr) return S_OK;
  VARTYPE vt = static_cast<VARTYPE>(descriptor_of(psa)->vt);
  SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, psa->rgsabound);
  if (copy == nullptr) return E_OUTOFMEMORY;
  ULONG n = psa->rgsabound[0].cElements;
  if (vt == VT_BSTR) {
    auto* from = static_cast<BSTR*>(psa->pvData);
    auto* to = static_cast<BSTR*>(copy->pvData);
    for (ULONG i = 0; i < n; ++i) {
      if (from[i] == nullptr) continue;
      to[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(from[i]), SysStringByteLen(from[i]));
      if (to[i] == nullptr) {
        SafeArrayDestroy(copy);
        return E_OUTOFMEMORY;
      }
    }
  } else if (vt == VT_VARIANT) {
    auto* from = static_cast<const VARIANT*>(psa->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    for (ULONG i = 0; i < n; ++i) {
      HRESULT hr = VariantCopy(&to[i], &from[i]);
      if (FAILED(hr)) {
        SafeArrayDestroy(copy);
        return hr;
      }
    }
  } else {
    std::memcpy(copy->pvData, psa->pvData, std::size_t{n} * psa->cbElements);
  }
  *out = copy;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out) {
  if (psa == nullptr || indices == nullptr || out == nullptr) return E_INVALIDARG;
  std::size_t offset;
  if (!element_offset(psa, indices, &offset)) return DISP_E_BADINDEX;
  const auto* element = static_cast<const char*>(psa->pvData) + offset;
  if (psa->fFeatures & FADF_BSTR) {
    BSTR source;
    std::memcpy(&source, element, sizeof source);
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    std::memcpy(out, &copy, sizeof copy);
    return S_OK;
  }
  if (psa->fFeatures & FADF_VARIANT) {
    auto* v = static_cast<VARIANT*>(out);
    VariantInit(v);
    return VariantCopy(v, reinterpret_cast<const VARIANT*>(element));
  }
  std::memcpy(out, element, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* value) {
  if (psa == nullptr || indices == nullptr) return E_INVALIDARG;
  std::size_t offset;
  if (!element_offset(psa, indices, &offset)) return DISP_E_BADINDEX;
  auto* element = static_cast<char*>(psa->pvData) + offset;
  if (psa->fFeatures & FADF_BSTR) {
    // For strings the value is the string itself (a BSTR), not a pointer to one.
    auto source = static_cast<BSTR>(const_cast<void*>(value));
    BSTR copy = nullptr;
    if (source != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    BSTR old;
    std::memcpy(&old, element, sizeof old);
    SysFreeString(old);
    std::memcpy(element, &copy, sizeof copy);
    return S_OK;
  }
  if (value == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_VARIANT)
    return VariantCopy(reinterpret_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
  std::memcpy(element, value, psa->cbElements);
  return S_OK;
}

UINT SafeArrayGetDim(const SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(const SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetUBound(const SAFEARRAY* psa, UINT nDim, LONG* upper) {
  if (psa == nullptr || upper == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[0];
  *upper = static_cast<LONG>(static_cast<std::int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetLBound(const SAFEARRAY* psa, UINT nDim, LONG* lower) {
  if (psa == nullptr || lower == nullptr) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *lower = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetVartype(const SAFEARRAY* psa, VARTYPE* vt) {
  if (psa == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = static_cast<VARTYPE>(descriptor_of(psa)->vt);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) {
  if (psa == nullptr || data == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

}  // namespace hbt::com
