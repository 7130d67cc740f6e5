// ReleaseStgMedium: the receiver of a data-transfer medium frees it with this one call,
// whatever kind of handle it carries. A file medium's name is freed; the file itself is
// left on disk, since nothing here hands files around and deleting a named path on the
// word of a caller-built structure is not something to do by accident.
#include "com/include/objbase.h"
#include "com/unknown.h"

extern "C" HBT_CALLS_FOREIGN_OBJECTS void ReleaseStgMedium(STGMEDIUM* medium) {
  if (medium == nullptr) return;
  IUnknown* owner = medium->pUnkForRelease;
  if (owner != nullptr) {
    // The owner frees the handle when it lets go of its last reference.
    owner->Release();
  } else {
    switch (medium->tymed) {
      case TYMED_HGLOBAL:
        if (medium->hGlobal != nullptr) GlobalFree(medium->hGlobal);
        break;
      case TYMED_FILE:
        CoTaskMemFree(medium->lpszFileName);
        break;
      case TYMED_ISTREAM:
        if (medium->pstm != nullptr) medium->pstm->Release();
        break;
      case TYMED_ISTORAGE:
        // IStorage is only ever an opaque pointer here; its first slots are IUnknown's.
        if (medium->pstg != nullptr) reinterpret_cast<IUnknown*>(medium->pstg)->Release();
        break;
      default:
        // GDI and metafile handles do not exist on this platform.
        break;
    }
  }
  medium->tymed = TYMED_NULL;
  medium->hGlobal = nullptr;
  medium->pUnkForRelease = nullptr;
}
