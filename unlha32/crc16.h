#pragma once
// CRC-16 of LHA archives (polynomial 0x8005 reflected, i.e. 0xA001, start 0).
#include <cstddef>
#include <cstdint>

namespace unlha {

uint16_t crc16Update(uint16_t crc, const void *data, std::size_t len);

} // namespace unlha
