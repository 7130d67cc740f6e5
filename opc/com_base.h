// The OPC and COM definitions the server is written against, in one include.
#pragma once

#include "opcda.h"  // IWYU pragma: export
