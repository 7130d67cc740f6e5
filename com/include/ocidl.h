/* Connection points: how a server calls back into a client's sink. */
#ifndef HBTCOM_OCIDL_H
#define HBTCOM_OCIDL_H

#include "objidl.h"

DEFINE_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

typedef struct tagCONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
} CONNECTDATA;

HBTCOM_FORWARD_INTERFACE(IConnectionPoint);
HBTCOM_FORWARD_INTERFACE(IConnectionPointContainer);

#undef INTERFACE
#define INTERFACE IEnumConnections
DECLARE_INTERFACE_(IEnumConnections, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, CONNECTDATA* items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumConnections** copy) PURE;
};

#undef INTERFACE
#define INTERFACE IConnectionPoint
DECLARE_INTERFACE_(IConnectionPoint, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(GetConnectionInterface)(THIS_ IID* iid) PURE;
  STDMETHOD(GetConnectionPointContainer)(THIS_ IConnectionPointContainer** container) PURE;
  STDMETHOD(Advise)(THIS_ IUnknown* sink, DWORD* cookie) PURE;
  STDMETHOD(Unadvise)(THIS_ DWORD cookie) PURE;
  STDMETHOD(EnumConnections)(THIS_ IEnumConnections** connections) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumConnectionPoints
DECLARE_INTERFACE_(IEnumConnectionPoints, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(Next)(THIS_ ULONG count, IConnectionPoint** items, ULONG* fetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG count) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumConnectionPoints** copy) PURE;
};

#undef INTERFACE
#define INTERFACE IConnectionPointContainer
DECLARE_INTERFACE_(IConnectionPointContainer, IUnknown) {
  STDMETHOD(QueryInterface)(THIS_ REFIID riid, void** object) PURE;
  STDMETHOD_(ULONG, AddRef)(THIS) PURE;
  STDMETHOD_(ULONG, Release)(THIS) PURE;
  STDMETHOD(EnumConnectionPoints)(THIS_ IEnumConnectionPoints** points) PURE;
  STDMETHOD(FindConnectionPoint)(THIS_ REFIID riid, IConnectionPoint** point) PURE;
};

#endif
