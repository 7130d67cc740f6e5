/* Everything the COM runtime offers, for clients written against the Windows headers. */
#ifndef HBTCOM_WINDOWS_H
#define HBTCOM_WINDOWS_H
#include "objbase.h"
#endif
