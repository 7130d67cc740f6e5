#include "values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "session.h"
#include "tools/hbtio/json.h"

namespace hbt::hbtopc {

namespace {

// Shortest text that reads back as the same number, so a VT_R4 of 12.1 shows as 12.1 and not
// as the double 12.100000381.
std::string float_text(float f) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, f);
  return ec == std::errc() ? std::string(text, end) : "?";
}

std::string double_text(double d) {
  char text[40];
  auto [end, ec] = std::to_chars(text, text + sizeof text, d);
  return ec == std::errc() ? std::string(text, end) : "?";
}

// One scalar; `json` chooses quoting of texts and null for what JSON has no number for.
std::string scalar(const VARIANT& v, bool json) {
  auto number = [&](double d, std::string text) { return json && !std::isfinite(d) ? std::string("null") : text; };
  switch (v.vt) {
    case VT_EMPTY: return json ? "null" : "(empty)";
    case VT_NULL: return json ? "null" : "(null)";
    case VT_I1: return std::to_string(static_cast<int>(v.cVal));
    case VT_UI1: return std::to_string(static_cast<unsigned>(v.bVal));
    case VT_I2: return std::to_string(v.iVal);
    case VT_UI2: return std::to_string(v.uiVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_INT: return std::to_string(v.intVal);
    case VT_UI4: return std::to_string(v.ulVal);
    case VT_UINT: return std::to_string(v.uintVal);
    case VT_I8: return std::to_string(v.llVal);
    case VT_UI8: return std::to_string(v.ullVal);
    case VT_R4: return number(v.fltVal, float_text(v.fltVal));
    case VT_R8: return number(v.dblVal, double_text(v.dblVal));
    case VT_DATE: return number(v.date, double_text(v.date));
    case VT_ERROR: return json ? std::to_string(v.scode) : hresult_hex(v.scode);
    case VT_BOOL: return v.boolVal ? "true" : "false";
    case VT_BSTR: {
      std::string text = narrow(v.bstrVal);
      return json ? hbtio::json_quote(text) : text;
    }
  }
  // Anything else by its conversion to text, as the runtime makes it.
  VARIANT text;
  VariantInit(&text);
  std::string out = json ? "null" : "(" + vartype_name(v.vt) + ")";
  if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR))) out = json ? hbtio::json_quote(narrow(text.bstrVal)) : narrow(text.bstrVal);
  VariantClear(&text);
  return out;
}

std::string array(const VARIANT& v, bool json) {
  SAFEARRAY* sa = v.parray;
  if (sa == nullptr || SafeArrayGetDim(sa) != 1) return json ? "null" : "(array)";
  LONG low = 0, high = -1;
  SafeArrayGetLBound(sa, 1, &low);
  SafeArrayGetUBound(sa, 1, &high);
  const VARTYPE element = v.vt & VT_TYPEMASK;
  std::string out = "[";
  for (LONG i = low; i <= high; ++i) {
    VARIANT e;
    VariantInit(&e);
    if (element == VT_VARIANT) {
      SafeArrayGetElement(sa, &i, &e);
    } else {
      e.vt = element;
      if (FAILED(SafeArrayGetElement(sa, &i, &e.llVal))) e.vt = VT_EMPTY;
    }
    if (i != low) out += json ? "," : ", ";
    out += scalar(e, json);
    VariantClear(&e);
  }
  return out + "]";
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool parse_number(const std::string& text, double* out) {
  const std::string t = trimmed(text);
  if (t.empty()) return false;
  char* end = nullptr;
  *out = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// One element in the element type; the conversions (and their range checks) are the runtime's.
bool parse_scalar(const std::string& text, VARTYPE type, VARIANT* out, std::string* error) {
  VariantInit(out);
  if (type == VT_BSTR) {
    std::u16string wide = widen(text);
    out->vt = VT_BSTR;
    out->bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
    return out->bstrVal != nullptr || (*error = "out of memory", false);
  }
  if (type == VT_BOOL) {
    const std::string t = lower(trimmed(text));
    double d = 0;
    if (t == "true" || t == "on") {
      d = 1;
    } else if (t == "false" || t == "off") {
      d = 0;
    } else if (!parse_number(t, &d) || (d != 0 && d != 1)) {
      *error = "'" + text + "' is no bit value (true/false, on/off, 1/0)";
      return false;
    }
    out->vt = VT_BOOL;
    out->boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  }
  double d = 0;
  if (!parse_number(text, &d)) {
    if (type == VT_EMPTY) return parse_scalar(text, VT_BSTR, out, error);
    *error = "'" + text + "' is not a number";
    return false;
  }
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_R8;
  number.dblVal = d;
  if (type == VT_EMPTY || type == VT_R8) {
    *out = number;
    return true;
  }
  if (FAILED(VariantChangeType(out, &number, 0, type))) {
    VariantInit(out);
    *error = "'" + text + "' does not fit " + vartype_name(type);
    return false;
  }
  return true;
}

std::vector<std::string> split_elements(std::string text) {
  text = trimmed(text);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

}  // namespace

std::string variant_text(const VARIANT& value) {
  return (value.vt & VT_ARRAY) ? array(value, false) : scalar(value, false);
}

std::string variant_json(const VARIANT& value) {
  return (value.vt & VT_ARRAY) ? array(value, true) : scalar(value, true);
}

bool parse_value(const std::string& text, VARTYPE canonical, VARIANT* out, std::string* error) {
  VariantInit(out);
  if (!(canonical & VT_ARRAY)) return parse_scalar(text, canonical, out, error);
  const VARTYPE element = canonical & VT_TYPEMASK;
  const auto parts = split_elements(text);
  SAFEARRAY* sa = SafeArrayCreateVector(element, 0, static_cast<ULONG>(parts.size()));
  if (sa == nullptr) {
    *error = "cannot make an array of " + vartype_name(element);
    return false;
  }
  for (LONG i = 0; i < static_cast<LONG>(parts.size()); ++i) {
    VARIANT e;
    if (!parse_scalar(parts[static_cast<std::size_t>(i)], element, &e, error)) {
      *error = "element " + std::to_string(i + 1) + ": " + *error;
      SafeArrayDestroy(sa);
      return false;
    }
    const void* data = element == VT_BSTR ? static_cast<const void*>(e.bstrVal) : static_cast<const void*>(&e.llVal);
    HRESULT hr = SafeArrayPutElement(sa, &i, data);
    VariantClear(&e);
    if (FAILED(hr)) {
      *error = "element " + std::to_string(i + 1) + " cannot be stored";
      SafeArrayDestroy(sa);
      return false;
    }
  }
  out->vt = canonical;
  out->parray = sa;
  return true;
}

}  // namespace hbt::hbtopc
