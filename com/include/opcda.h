/* OPC Data Access 1.0, 2.0 and 3.0 custom interfaces: identifiers, enumerations, structures
 * and interfaces with the values and method orders of the published OPC DA specifications.
 * Plain C (through lpVtbl) and C++. */
#ifndef HBT_OPCDA_H
#define HBT_OPCDA_H

#include "objbase.h"
#include "opccomn.h"
#include "opcerror.h"

typedef DWORD OPCHANDLE;

typedef enum OPCDATASOURCE HBTCOM_ENUM_BASE { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 } OPCDATASOURCE;
typedef enum OPCBROWSETYPE HBTCOM_ENUM_BASE { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 } OPCBROWSETYPE;
typedef enum OPCNAMESPACETYPE HBTCOM_ENUM_BASE { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 } OPCNAMESPACETYPE;
typedef enum OPCBROWSEDIRECTION HBTCOM_ENUM_BASE {
  OPC_BROWSE_UP = 1,
  OPC_BROWSE_DOWN = 2,
  OPC_BROWSE_TO = 3
} OPCBROWSEDIRECTION;
typedef enum OPCEUTYPE HBTCOM_ENUM_BASE { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 } OPCEUTYPE;
typedef enum OPCSERVERSTATE HBTCOM_ENUM_BASE {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
  OPC_STATUS_COMM_FAULT = 6
} OPCSERVERSTATE;
typedef enum OPCENUMSCOPE HBTCOM_ENUM_BASE {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6
} OPCENUMSCOPE;
typedef enum OPCBROWSEFILTER HBTCOM_ENUM_BASE {
  OPC_BROWSE_FILTER_ALL = 1,
  OPC_BROWSE_FILTER_BRANCHES = 2,
  OPC_BROWSE_FILTER_ITEMS = 3
} OPCBROWSEFILTER;

/* Access rights of an item. */
#define OPC_READABLE 0x1
#define OPC_WRITEABLE 0x2

/* Browse element flags (DA 3.0). */
#define OPC_BROWSE_HASCHILDREN 0x01
#define OPC_BROWSE_ISITEM 0x02

/* Clipboard format names of the DA 1.0 data streams (IDataObject). */
#define OPC_STMFORMAT_DATA "OPCSTMFORMATDATA"
#define OPC_STMFORMAT_DATATIME "OPCSTMFORMATDATATIME"
#define OPC_STMFORMAT_WRITECOMPLETE "OPCSTMFORMATWRITECOMPLETE"

/* Item property identifiers (DA 2.0 / 3.0). */
#define OPC_PROPERTY_DATATYPE 1
#define OPC_PROPERTY_VALUE 2
#define OPC_PROPERTY_QUALITY 3
#define OPC_PROPERTY_TIMESTAMP 4
#define OPC_PROPERTY_ACCESS_RIGHTS 5
#define OPC_PROPERTY_SCAN_RATE 6
#define OPC_PROPERTY_EU_TYPE 7
#define OPC_PROPERTY_EU_INFO 8
#define OPC_PROPERTY_EU_UNITS 100
#define OPC_PROPERTY_DESCRIPTION 101
#define OPC_PROPERTY_HIGH_EU 102
#define OPC_PROPERTY_LOW_EU 103
#define OPC_PROPERTY_HIGH_IR 104
#define OPC_PROPERTY_LOW_IR 105
#define OPC_PROPERTY_CLOSE_LABEL 106
#define OPC_PROPERTY_OPEN_LABEL 107
#define OPC_PROPERTY_TIMEZONE 108

typedef struct OPCGROUPHEADER {
  DWORD dwSize;
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
} OPCGROUPHEADER;

typedef struct OPCITEMHEADER1 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
  FILETIME ftTimeStampItem;
} OPCITEMHEADER1;

typedef struct OPCITEMHEADER2 {
  OPCHANDLE hClient;
  DWORD dwValueOffset;
  WORD wQuality;
  WORD wReserved;
} OPCITEMHEADER2;

typedef struct OPCGROUPHEADERWRITE {
  DWORD dwItemCount;
  OPCHANDLE hClientGroup;
  DWORD dwTransactionID;
  HRESULT hrStatus;
} OPCGROUPHEADERWRITE;

typedef struct OPCITEMHEADERWRITE {
  OPCHANDLE hClient;
  HRESULT dwError;
} OPCITEMHEADERWRITE;

typedef struct OPCITEMSTATE {
  OPCHANDLE hClient;
  FILETIME ftTimeStamp;
  WORD wQuality;
  WORD wReserved;
  VARIANT vDataValue;
} OPCITEMSTATE;

typedef struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState;
  DWORD dwGroupCount;
  DWORD dwBandWidth;
  WORD wMajorVersion;
  WORD wMinorVersion;
  WORD wBuildNumber;
  WORD wReserved;
  LPWSTR szVendorInfo;
} OPCSERVERSTATUS;

typedef struct OPCITEMDEF {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  WORD wReserved;
} OPCITEMDEF;

typedef struct OPCITEMATTRIBUTES {
  LPWSTR szAccessPath;
  LPWSTR szItemID;
  BOOL bActive;
  OPCHANDLE hClient;
  OPCHANDLE hServer;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
  VARTYPE vtRequestedDataType;
  VARTYPE vtCanonicalDataType;
  OPCEUTYPE dwEUType;
  VARIANT vEUInfo;
} OPCITEMATTRIBUTES;

typedef struct OPCITEMRESULT {
  OPCHANDLE hServer;
  VARTYPE vtCanonicalDataType;
  WORD wReserved;
  DWORD dwAccessRights;
  DWORD dwBlobSize;
  BYTE* pBlob;
} OPCITEMRESULT;

typedef struct OPCITEMPROPERTY {
  VARTYPE vtDataType;
  WORD wReserved;
  DWORD dwPropertyID;
  LPWSTR szItemID;
  LPWSTR szDescription;
  VARIANT vValue;
  HRESULT hrErrorID;
  DWORD dwReserved;
} OPCITEMPROPERTY;

typedef struct OPCITEMPROPERTIES {
  HRESULT hrErrorID;
  DWORD dwNumProperties;
  OPCITEMPROPERTY* pItemProperties;
  DWORD dwReserved;
} OPCITEMPROPERTIES;

typedef struct OPCBROWSEELEMENT {
  LPWSTR szName;
  LPWSTR szItemID;
  DWORD dwFlagValue;
  DWORD dwReserved;
  OPCITEMPROPERTIES ItemProperties;
} OPCBROWSEELEMENT;

typedef struct OPCITEMVQT {
  VARIANT vDataValue;
  BOOL bQualitySpecified;
  WORD wQuality;
  WORD wReserved;
  BOOL bTimeStampSpecified;
  DWORD dwReserved;
  FILETIME ftTimeStamp;
} OPCITEMVQT;

OPC_FORWARD(IOPCServer);
OPC_FORWARD(IOPCServerPublicGroups);
OPC_FORWARD(IOPCBrowseServerAddressSpace);
OPC_FORWARD(IOPCGroupStateMgt);
OPC_FORWARD(IOPCGroupStateMgt2);
OPC_FORWARD(IOPCPublicGroupStateMgt);
OPC_FORWARD(IOPCSyncIO);
OPC_FORWARD(IOPCSyncIO2);
OPC_FORWARD(IOPCAsyncIO);
OPC_FORWARD(IOPCAsyncIO2);
OPC_FORWARD(IOPCAsyncIO3);
OPC_FORWARD(IOPCItemMgt);
OPC_FORWARD(IEnumOPCItemAttributes);
OPC_FORWARD(IOPCDataCallback);
OPC_FORWARD(IOPCItemProperties);
OPC_FORWARD(IOPCItemDeadbandMgt);
OPC_FORWARD(IOPCItemIO);
OPC_FORWARD(IOPCBrowse);

#undef INTERFACE
#define INTERFACE IOPCServer
DECLARE_INTERFACE_(IOPCServer, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(AddGroup)(THIS_ LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                       DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(GetErrorString)(THIS_ HRESULT dwError, LCID dwLocale, LPWSTR* ppString) PURE;
  STDMETHOD(GetGroupByName)(THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(GetStatus)(THIS_ OPCSERVERSTATUS** ppServerStatus) PURE;
  STDMETHOD(RemoveGroup)(THIS_ OPCHANDLE hServerGroup, BOOL bForce) PURE;
  STDMETHOD(CreateGroupEnumerator)(THIS_ OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCServerPublicGroups
DECLARE_INTERFACE_(IOPCServerPublicGroups, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(GetPublicGroupByName)(THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
  STDMETHOD(RemovePublicGroup)(THIS_ OPCHANDLE hServerGroup, BOOL bForce) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCBrowseServerAddressSpace
DECLARE_INTERFACE_(IOPCBrowseServerAddressSpace, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(QueryOrganization)(THIS_ OPCNAMESPACETYPE* pNameSpaceType) PURE;
  STDMETHOD(ChangeBrowsePosition)(THIS_ OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) PURE;
  STDMETHOD(BrowseOPCItemIDs)(THIS_ OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                               VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) PURE;
  STDMETHOD(GetItemID)(THIS_ LPWSTR szItemDataID, LPWSTR* szItemID) PURE;
  STDMETHOD(BrowseAccessPaths)(THIS_ LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCGroupStateMgt
DECLARE_INTERFACE_(IOPCGroupStateMgt, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(GetState)(THIS_ DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                       FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                       OPCHANDLE* phServerGroup) PURE;
  STDMETHOD(SetState)(THIS_ DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup) PURE;
  STDMETHOD(SetName)(THIS_ LPCWSTR szName) PURE;
  STDMETHOD(CloneGroup)(THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCGroupStateMgt2
DECLARE_INTERFACE_(IOPCGroupStateMgt2, IOPCGroupStateMgt) {
#ifndef __cplusplus
  OPC_IUNKNOWN_METHODS
  STDMETHOD(GetState)(THIS_ DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                       FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                       OPCHANDLE* phServerGroup);
  STDMETHOD(SetState)(THIS_ DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup);
  STDMETHOD(SetName)(THIS_ LPCWSTR szName);
  STDMETHOD(CloneGroup)(THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);
#endif
  STDMETHOD(SetKeepAlive)(THIS_ DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) PURE;
  STDMETHOD(GetKeepAlive)(THIS_ DWORD* pdwKeepAliveTime) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCPublicGroupStateMgt
DECLARE_INTERFACE_(IOPCPublicGroupStateMgt, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(GetState)(THIS_ BOOL* pPublic) PURE;
  STDMETHOD(MoveToPublic)(THIS) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCSyncIO
DECLARE_INTERFACE_(IOPCSyncIO, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCSyncIO2
DECLARE_INTERFACE_(IOPCSyncIO2, IOPCSyncIO) {
#ifndef __cplusplus
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors);
  STDMETHOD(Write)(THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors);
#endif
  STDMETHOD(ReadMaxAge)(THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                         WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) PURE;
  STDMETHOD(WriteVQT)(THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCAsyncIO
DECLARE_INTERFACE_(IOPCAsyncIO, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   DWORD* pTransactionID, HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(THIS_ DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                    DWORD* pTransactionID, HRESULT** ppErrors) PURE;
  STDMETHOD(Refresh)(THIS_ DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) PURE;
  STDMETHOD(Cancel)(THIS_ DWORD dwTransactionID) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCAsyncIO2
DECLARE_INTERFACE_(IOPCAsyncIO2, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                   HRESULT** ppErrors) PURE;
  STDMETHOD(Write)(THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                    DWORD* pdwCancelID, HRESULT** ppErrors) PURE;
  STDMETHOD(Refresh2)(THIS_ OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) PURE;
  STDMETHOD(Cancel2)(THIS_ DWORD dwCancelID) PURE;
  STDMETHOD(SetEnable)(THIS_ BOOL bEnable) PURE;
  STDMETHOD(GetEnable)(THIS_ BOOL* pbEnable) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCAsyncIO3
DECLARE_INTERFACE_(IOPCAsyncIO3, IOPCAsyncIO2) {
#ifndef __cplusplus
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                   HRESULT** ppErrors);
  STDMETHOD(Write)(THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                    DWORD* pdwCancelID, HRESULT** ppErrors);
  STDMETHOD(Refresh2)(THIS_ OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID);
  STDMETHOD(Cancel2)(THIS_ DWORD dwCancelID);
  STDMETHOD(SetEnable)(THIS_ BOOL bEnable);
  STDMETHOD(GetEnable)(THIS_ BOOL* pbEnable);
#endif
  STDMETHOD(ReadMaxAge)(THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) PURE;
  STDMETHOD(WriteVQT)(THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) PURE;
  STDMETHOD(RefreshMaxAge)(THIS_ DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCItemMgt
DECLARE_INTERFACE_(IOPCItemMgt, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(AddItems)(THIS_ DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                       HRESULT** ppErrors) PURE;
  STDMETHOD(ValidateItems)(THIS_ DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                            OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) PURE;
  STDMETHOD(RemoveItems)(THIS_ DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) PURE;
  STDMETHOD(SetActiveState)(THIS_ DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) PURE;
  STDMETHOD(SetClientHandles)(THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                               HRESULT** ppErrors) PURE;
  STDMETHOD(SetDatatypes)(THIS_ DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                           HRESULT** ppErrors) PURE;
  STDMETHOD(CreateEnumerator)(THIS_ REFIID riid, LPUNKNOWN* ppUnk) PURE;
};

#undef INTERFACE
#define INTERFACE IEnumOPCItemAttributes
DECLARE_INTERFACE_(IEnumOPCItemAttributes, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Next)(THIS_ ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(THIS_ ULONG celt) PURE;
  STDMETHOD(Reset)(THIS) PURE;
  STDMETHOD(Clone)(THIS_ IEnumOPCItemAttributes** ppEnumItemAttributes) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCDataCallback
DECLARE_INTERFACE_(IOPCDataCallback, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(OnDataChange)(THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                           WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) PURE;
  STDMETHOD(OnReadComplete)(THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                             WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) PURE;
  STDMETHOD(OnWriteComplete)(THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                              OPCHANDLE* pClienthandles, HRESULT* pErrors) PURE;
  STDMETHOD(OnCancelComplete)(THIS_ DWORD dwTransid, OPCHANDLE hGroup) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCItemProperties
DECLARE_INTERFACE_(IOPCItemProperties, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(QueryAvailableProperties)(THIS_ LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                       LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) PURE;
  STDMETHOD(GetItemProperties)(THIS_ LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                VARIANT** ppvData, HRESULT** ppErrors) PURE;
  STDMETHOD(LookupItemIDs)(THIS_ LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCItemDeadbandMgt
DECLARE_INTERFACE_(IOPCItemDeadbandMgt, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(SetItemDeadband)(THIS_ DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                              HRESULT** ppErrors) PURE;
  STDMETHOD(GetItemDeadband)(THIS_ DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                              HRESULT** ppErrors) PURE;
  STDMETHOD(ClearItemDeadband)(THIS_ DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCItemIO
DECLARE_INTERFACE_(IOPCItemIO, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(Read)(THIS_ DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                   WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) PURE;
  STDMETHOD(WriteVQT)(THIS_ DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) PURE;
};

#undef INTERFACE
#define INTERFACE IOPCBrowse
DECLARE_INTERFACE_(IOPCBrowse, IUnknown) {
  OPC_IUNKNOWN_METHODS
  STDMETHOD(GetProperties)(THIS_ DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                            DWORD dwPropertyCount, DWORD* pdwPropertyIDs, OPCITEMPROPERTIES** ppItemProperties) PURE;
  STDMETHOD(Browse)(THIS_ LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                     OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                     BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                     DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                     OPCBROWSEELEMENT** ppBrowseElements) PURE;
};

#undef INTERFACE

/* Interface identifiers. DA 1.0/2.0: {39C13A4D...39C13A72-011E-11D0-9675-0020AFD8ADB3}. */
#define HBT_OPCDA_GUID(l) {(l), 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}}
static const IID IID_IOPCServer = HBT_OPCDA_GUID(0x39C13A4D);
static const IID IID_IOPCServerPublicGroups = HBT_OPCDA_GUID(0x39C13A4E);
static const IID IID_IOPCBrowseServerAddressSpace = HBT_OPCDA_GUID(0x39C13A4F);
static const IID IID_IOPCGroupStateMgt = HBT_OPCDA_GUID(0x39C13A50);
static const IID IID_IOPCPublicGroupStateMgt = HBT_OPCDA_GUID(0x39C13A51);
static const IID IID_IOPCSyncIO = HBT_OPCDA_GUID(0x39C13A52);
static const IID IID_IOPCAsyncIO = HBT_OPCDA_GUID(0x39C13A53);
static const IID IID_IOPCItemMgt = HBT_OPCDA_GUID(0x39C13A54);
static const IID IID_IEnumOPCItemAttributes = HBT_OPCDA_GUID(0x39C13A55);
static const IID IID_IOPCDataCallback = HBT_OPCDA_GUID(0x39C13A70);
static const IID IID_IOPCAsyncIO2 = HBT_OPCDA_GUID(0x39C13A71);
static const IID IID_IOPCItemProperties = HBT_OPCDA_GUID(0x39C13A72);
/* DA 3.0. */
static const IID IID_IOPCItemDeadbandMgt = {0x5946DA93, 0x8B39, 0x4EC8, {0xAB, 0x3D, 0xAA, 0x73, 0xDF, 0x5B, 0xC8, 0x6F}};
static const IID IID_IOPCItemSamplingMgt = {0x3E22D313, 0xF08B, 0x41A5, {0x86, 0xC8, 0x95, 0xE9, 0x5C, 0xB4, 0x9F, 0xFC}};
static const IID IID_IOPCBrowse = {0x39227004, 0xA18F, 0x4B57, {0x8B, 0x0A, 0x52, 0x35, 0x67, 0x0F, 0x44, 0x68}};
static const IID IID_IOPCItemIO = {0x85C0B427, 0x2893, 0x4CBC, {0xBD, 0x78, 0xE5, 0xFC, 0x51, 0x46, 0xF0, 0x8F}};
static const IID IID_IOPCSyncIO2 = {0x730F5F0F, 0x55B1, 0x4C81, {0x9E, 0x18, 0xFF, 0x8A, 0x09, 0x04, 0xE1, 0xFA}};
static const IID IID_IOPCAsyncIO3 = {0x0967B97B, 0x36EF, 0x423E, {0xB6, 0xF8, 0x6B, 0xFF, 0x1E, 0x40, 0xD3, 0x9D}};
static const IID IID_IOPCGroupStateMgt2 = {0x8E368666, 0xD72E, 0x4F78, {0x87, 0xED, 0x64, 0x76, 0x11, 0xC6, 0x1C, 0x9F}};

#endif /* HBT_OPCDA_H */
