// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320), so
// that sample checksums compare with other tools' dumps.
#pragma once

#include "platform/wintypes.h"

// Continues `crc` (0 to start) over `length` bytes.
uint32_t Crc32(const BYTE* data, size_t length, uint32_t crc = 0);
