// CRC-32 of the ZIP format (reflected, polynomial 0xEDB88320).
#ifndef SFX_CRC_H
#define SFX_CRC_H

#include <stdint.h>

// Fills CrcTable (which start-up has allocated) with the 256 entries,
// derives from it the private tables that let CrcUpdateBuffer take eight
// bytes per step, and asks the processor whether it multiplies without
// carries (PCLMULQDQ).
void BuildCrcTable();

// CrcUpdateBuffer folds 16 bytes per multiplication when true; BuildCrcTable
// sets it from the processor. Tests clear it to check the table path alone.
extern bool CrcCarryless;

// One step of the register: the new register after one byte.
uint32_t CrcUpdateByte(uint8_t byte, uint32_t crc);

// Runs the register over length bytes; a length of 0 or less changes nothing.
void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc);

#endif
