// CRC-32 of the ZIP format (reflected, polynomial 0xEDB88320).
#ifndef SFX_CRC_H
#define SFX_CRC_H

#include <stdint.h>

// Fills CrcTable (which start-up has allocated) with the 256 entries, and
// derives from it the private tables that let CrcUpdateBuffer take eight
// bytes per step.
void BuildCrcTable();

// One step of the register: the new register after one byte.
uint32_t CrcUpdateByte(uint8_t byte, uint32_t crc);

// Runs the register over length bytes; a length of 0 or less changes nothing.
void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc);

#endif
