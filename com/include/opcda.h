/* OPC Data Access 1.0, 2.0 and 3.0 custom interfaces: identifiers, enumerations, structures
 * and interfaces with the values and method orders of the published OPC DA specifications.
 * Plain C (through lpVtbl) and C++. */
#ifndef HBT_OPCDA_H
#define HBT_OPCDA_H

#include "objbase.h"
#include "opccomn.h"
#include "opcerror.h"

typedef DWORD OPCHANDLE;

typedef enum OPCDATASOURCE { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 } OPCDATASOURCE;
typedef enum OPCBROWSETYPE { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 } OPCBROWSETYPE;
typedef enum OPCNAMESPACETYPE { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 } OPCNAMESPACETYPE;
typedef enum OPCBROWSEDIRECTION { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 } OPCBROWSEDIRECTION;
typedef enum OPCEUTYPE { OPC_NOENUM = 0, OPC_ANALOG = 1, OPC_ENUMERATED = 2 } OPCEUTYPE;
typedef enum OPCSERVERSTATE {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
  OPC_STATUS_COMM_FAULT = 6
} OPCSERVERSTATE;
typedef enum OPCENUMSCOPE {
  OPC_ENUM_PRIVATE_CONNECTIONS = 1,
  OPC_ENUM_PUBLIC_CONNECTIONS = 2,
  OPC_ENUM_ALL_CONNECTIONS = 3,
  OPC_ENUM_PRIVATE = 4,
  OPC_ENUM_PUBLIC = 5,
  OPC_ENUM_ALL = 6
} OPCENUMSCOPE;
typedef enum OPCBROWSEFILTER {
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

HBT_FORWARD(IOPCServer);
HBT_FORWARD(IOPCServerPublicGroups);
HBT_FORWARD(IOPCBrowseServerAddressSpace);
HBT_FORWARD(IOPCGroupStateMgt);
HBT_FORWARD(IOPCGroupStateMgt2);
HBT_FORWARD(IOPCPublicGroupStateMgt);
HBT_FORWARD(IOPCSyncIO);
HBT_FORWARD(IOPCSyncIO2);
HBT_FORWARD(IOPCAsyncIO);
HBT_FORWARD(IOPCAsyncIO2);
HBT_FORWARD(IOPCAsyncIO3);
HBT_FORWARD(IOPCItemMgt);
HBT_FORWARD(IEnumOPCItemAttributes);
HBT_FORWARD(IOPCDataCallback);
HBT_FORWARD(IOPCItemProperties);
HBT_FORWARD(IOPCItemDeadbandMgt);
HBT_FORWARD(IOPCItemIO);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCServer
HBT_DECLARE_INTERFACE(IOPCServer) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(AddGroup)(HBT_THIS_ LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                       DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
  HBT_METHOD(GetErrorString)(HBT_THIS_ HRESULT dwError, LCID dwLocale, LPWSTR* ppString) HBT_PURE;
  HBT_METHOD(GetGroupByName)(HBT_THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
  HBT_METHOD(GetStatus)(HBT_THIS_ OPCSERVERSTATUS** ppServerStatus) HBT_PURE;
  HBT_METHOD(RemoveGroup)(HBT_THIS_ OPCHANDLE hServerGroup, BOOL bForce) HBT_PURE;
  HBT_METHOD(CreateGroupEnumerator)(HBT_THIS_ OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
HBT_END_INTERFACE(IOPCServer);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCServerPublicGroups
HBT_DECLARE_INTERFACE(IOPCServerPublicGroups) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(GetPublicGroupByName)(HBT_THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
  HBT_METHOD(RemovePublicGroup)(HBT_THIS_ OPCHANDLE hServerGroup, BOOL bForce) HBT_PURE;
HBT_END_INTERFACE(IOPCServerPublicGroups);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCBrowseServerAddressSpace
HBT_DECLARE_INTERFACE(IOPCBrowseServerAddressSpace) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(QueryOrganization)(HBT_THIS_ OPCNAMESPACETYPE* pNameSpaceType) HBT_PURE;
  HBT_METHOD(ChangeBrowsePosition)(HBT_THIS_ OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) HBT_PURE;
  HBT_METHOD(BrowseOPCItemIDs)(HBT_THIS_ OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                               VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) HBT_PURE;
  HBT_METHOD(GetItemID)(HBT_THIS_ LPWSTR szItemDataID, LPWSTR* szItemID) HBT_PURE;
  HBT_METHOD(BrowseAccessPaths)(HBT_THIS_ LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) HBT_PURE;
HBT_END_INTERFACE(IOPCBrowseServerAddressSpace);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCGroupStateMgt
HBT_DECLARE_INTERFACE(IOPCGroupStateMgt) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(GetState)(HBT_THIS_ DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                       FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                       OPCHANDLE* phServerGroup) HBT_PURE;
  HBT_METHOD(SetState)(HBT_THIS_ DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup) HBT_PURE;
  HBT_METHOD(SetName)(HBT_THIS_ LPCWSTR szName) HBT_PURE;
  HBT_METHOD(CloneGroup)(HBT_THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
HBT_END_INTERFACE(IOPCGroupStateMgt);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCGroupStateMgt2
HBT_DECLARE_INTERFACE_(IOPCGroupStateMgt2, IOPCGroupStateMgt) {
#ifndef __cplusplus
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(GetState)(HBT_THIS_ DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                       FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup,
                       OPCHANDLE* phServerGroup);
  HBT_METHOD(SetState)(HBT_THIS_ DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                       LONG* pTimeBias, FLOAT* pPercentDeadband, LCID* pLCID, OPCHANDLE* phClientGroup);
  HBT_METHOD(SetName)(HBT_THIS_ LPCWSTR szName);
  HBT_METHOD(CloneGroup)(HBT_THIS_ LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk);
#endif
  HBT_METHOD(SetKeepAlive)(HBT_THIS_ DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) HBT_PURE;
  HBT_METHOD(GetKeepAlive)(HBT_THIS_ DWORD* pdwKeepAliveTime) HBT_PURE;
HBT_END_INTERFACE(IOPCGroupStateMgt2);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCPublicGroupStateMgt
HBT_DECLARE_INTERFACE(IOPCPublicGroupStateMgt) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(GetState)(HBT_THIS_ BOOL* pPublic) HBT_PURE;
  HBT_METHOD(MoveToPublic)(HBT_THIS) HBT_PURE;
HBT_END_INTERFACE(IOPCPublicGroupStateMgt);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCSyncIO
HBT_DECLARE_INTERFACE(IOPCSyncIO) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(Write)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) HBT_PURE;
HBT_END_INTERFACE(IOPCSyncIO);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCSyncIO2
HBT_DECLARE_INTERFACE_(IOPCSyncIO2, IOPCSyncIO) {
#ifndef __cplusplus
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors);
  HBT_METHOD(Write)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors);
#endif
  HBT_METHOD(ReadMaxAge)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                         WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(WriteVQT)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) HBT_PURE;
HBT_END_INTERFACE(IOPCSyncIO2);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCAsyncIO
HBT_DECLARE_INTERFACE(IOPCAsyncIO) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                   DWORD* pTransactionID, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(Write)(HBT_THIS_ DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                    DWORD* pTransactionID, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(Refresh)(HBT_THIS_ DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) HBT_PURE;
  HBT_METHOD(Cancel)(HBT_THIS_ DWORD dwTransactionID) HBT_PURE;
HBT_END_INTERFACE(IOPCAsyncIO);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCAsyncIO2
HBT_DECLARE_INTERFACE(IOPCAsyncIO2) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                   HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(Write)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                    DWORD* pdwCancelID, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(Refresh2)(HBT_THIS_ OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) HBT_PURE;
  HBT_METHOD(Cancel2)(HBT_THIS_ DWORD dwCancelID) HBT_PURE;
  HBT_METHOD(SetEnable)(HBT_THIS_ BOOL bEnable) HBT_PURE;
  HBT_METHOD(GetEnable)(HBT_THIS_ BOOL* pbEnable) HBT_PURE;
HBT_END_INTERFACE(IOPCAsyncIO2);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCAsyncIO3
HBT_DECLARE_INTERFACE_(IOPCAsyncIO3, IOPCAsyncIO2) {
#ifndef __cplusplus
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                   HRESULT** ppErrors);
  HBT_METHOD(Write)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                    DWORD* pdwCancelID, HRESULT** ppErrors);
  HBT_METHOD(Refresh2)(HBT_THIS_ OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID);
  HBT_METHOD(Cancel2)(HBT_THIS_ DWORD dwCancelID);
  HBT_METHOD(SetEnable)(HBT_THIS_ BOOL bEnable);
  HBT_METHOD(GetEnable)(HBT_THIS_ BOOL* pbEnable);
#endif
  HBT_METHOD(ReadMaxAge)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, DWORD dwTransactionID,
                         DWORD* pdwCancelID, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(WriteVQT)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT, DWORD dwTransactionID,
                       DWORD* pdwCancelID, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(RefreshMaxAge)(HBT_THIS_ DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID) HBT_PURE;
HBT_END_INTERFACE(IOPCAsyncIO3);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCItemMgt
HBT_DECLARE_INTERFACE(IOPCItemMgt) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(AddItems)(HBT_THIS_ DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                       HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(ValidateItems)(HBT_THIS_ DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                            OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(RemoveItems)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(SetActiveState)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(SetClientHandles)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                               HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(SetDatatypes)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                           HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(CreateEnumerator)(HBT_THIS_ REFIID riid, LPUNKNOWN* ppUnk) HBT_PURE;
HBT_END_INTERFACE(IOPCItemMgt);

#undef HBT_INTERFACE
#define HBT_INTERFACE IEnumOPCItemAttributes
HBT_DECLARE_INTERFACE(IEnumOPCItemAttributes) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Next)(HBT_THIS_ ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) HBT_PURE;
  HBT_METHOD(Skip)(HBT_THIS_ ULONG celt) HBT_PURE;
  HBT_METHOD(Reset)(HBT_THIS) HBT_PURE;
  HBT_METHOD(Clone)(HBT_THIS_ IEnumOPCItemAttributes** ppEnumItemAttributes) HBT_PURE;
HBT_END_INTERFACE(IEnumOPCItemAttributes);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCDataCallback
HBT_DECLARE_INTERFACE(IOPCDataCallback) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(OnDataChange)(HBT_THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                           HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                           WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) HBT_PURE;
  HBT_METHOD(OnReadComplete)(HBT_THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                             HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues,
                             WORD* pwQualities, FILETIME* pftTimeStamps, HRESULT* pErrors) HBT_PURE;
  HBT_METHOD(OnWriteComplete)(HBT_THIS_ DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                              OPCHANDLE* pClienthandles, HRESULT* pErrors) HBT_PURE;
  HBT_METHOD(OnCancelComplete)(HBT_THIS_ DWORD dwTransid, OPCHANDLE hGroup) HBT_PURE;
HBT_END_INTERFACE(IOPCDataCallback);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCItemProperties
HBT_DECLARE_INTERFACE(IOPCItemProperties) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(QueryAvailableProperties)(HBT_THIS_ LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                       LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) HBT_PURE;
  HBT_METHOD(GetItemProperties)(HBT_THIS_ LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                VARIANT** ppvData, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(LookupItemIDs)(HBT_THIS_ LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) HBT_PURE;
HBT_END_INTERFACE(IOPCItemProperties);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCItemDeadbandMgt
HBT_DECLARE_INTERFACE(IOPCItemDeadbandMgt) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(SetItemDeadband)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                              HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(GetItemDeadband)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                              HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(ClearItemDeadband)(HBT_THIS_ DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) HBT_PURE;
HBT_END_INTERFACE(IOPCItemDeadbandMgt);

#undef HBT_INTERFACE
#define HBT_INTERFACE IOPCItemIO
HBT_DECLARE_INTERFACE(IOPCItemIO) {
  HBT_IUNKNOWN_METHODS
  HBT_METHOD(Read)(HBT_THIS_ DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                   WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors) HBT_PURE;
  HBT_METHOD(WriteVQT)(HBT_THIS_ DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT, HRESULT** ppErrors) HBT_PURE;
HBT_END_INTERFACE(IOPCItemIO);

#undef HBT_INTERFACE

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
