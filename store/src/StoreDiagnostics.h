#pragma once

#include "store/format/RkFormat.h"

namespace rkstore {

// The 32 bytes in hexadecimal, then the fields by kind, then the check value.
void PrintDataBlockHead(const rkfs::StDataBlockHead_t& head);

}  // namespace rkstore
