/* Registered clipboard formats: a process-wide table of names, ids from 0xC000 upwards. */
#ifndef HBTCOM_WINUSER_H
#define HBTCOM_WINUSER_H

#include "wtypes.h"

typedef WORD CLIPFORMAT;

HBTCOM_BEGIN_C

/* The id of the format, the same for every spelling of the name in any letter case; 0 for a
   null or empty name or when the table is full. */
STDAPI_(UINT) RegisterClipboardFormatA(LPCSTR name);
/* Copies the registered name (truncated to size - 1 characters); returns its length, 0 for
   an id that is not registered. */
STDAPI_(int) GetClipboardFormatNameA(UINT format, LPSTR name, int size);

HBTCOM_END_C

#endif
