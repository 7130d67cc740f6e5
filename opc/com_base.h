// The OPC and COM definitions the server is written against, in one include.
#pragma once

#include "objbase.h"  // IWYU pragma: export
#include "opcda.h"    // IWYU pragma: export
