/* The typed record table at the start of a resource file: a self-describing
 * header that names the column types, then the records. The owner declares
 * the schema it expects; a file whose header differs is refused.
 *
 * Header: "VXDATA START" (12 UTF-16LE units), the column count K, K type
 * codes, the record count N, " END" (4 UTF-16LE units). Then N records of K
 * fields each; all integers are 32-bit little-endian. */
#pragma once

#include <stdio.h>
#include <windows.h>

/* Column type codes. */
enum {
  VX_DATA_U8 = 1,       /* 1 byte, zero-extended; also code 4 */
  VX_DATA_U16 = 2,      /* 2 bytes, zero-extended; also code 5 */
  VX_DATA_I32 = 3,      /* 4 bytes; also code 6 */
  VX_DATA_U8_B = 4,
  VX_DATA_U16_B = 5,
  VX_DATA_I32_B = 6,
  VX_DATA_TEXT = 7,     /* length L, L bytes of UTF-16LE, padding to 4; buffer of L + 2 with a 16-bit zero */
  VX_DATA_BLOB = 8,     /* length L, L bytes, padding to 4; buffer of exactly L bytes */
  VX_DATA_CUSTOM = 16,  /* read by the column's reader function */
};

/* Result codes of vx_data_read (besides 0 and the count of records read when
 * fewer than N could be read). Column i's type code mismatch is -(10 + i). */
enum {
  VX_DATA_NO_RECORD = -1,      /* none of N > 0 records could be read */
  VX_DATA_BAD_START = -2,
  VX_DATA_BAD_COLUMNS = -3,
  VX_DATA_NO_COUNT = -4,
  VX_DATA_BAD_END = -5,
  VX_DATA_BAD_TYPE_BASE = -10,
};

/* A slot holds a field's value: a 32-bit value (sign-extended; read it as
 * (LONG)slot) or the address of a text/blob buffer; 0 when empty. */
typedef LONG_PTR VxDataSlot;
/* Reads one custom field from the stream into its slot; returns 0 on success. */
typedef int (*VxDataReader)(VxDataSlot* slot, FILE* stream);
/* Releases a custom field's value (called with non-empty slots only). */
typedef void (*VxDataRelease)(VxDataSlot value);

struct VxDataRecord {
  VxDataSlot* slots;     /* K slots */
  LONG* lengths;         /* K lengths: 1, 2, 4, L, or 0 for an empty field */
  VxDataRecord* next;    /* file order */
};

struct VxData {
  LONG column_count;         /* K */
  LONG* types;               /* K declared type codes */
  VxDataReader* readers;     /* K entries, allocated on the first custom column */
  VxDataRelease* releases;   /* K entries, allocated with the readers */
  LONG record_count;         /* records held */
  VxDataRecord* first;
  VxDataRecord* last;
};

/* Empty table: no schema, no records. */
void vx_data_init(VxData* table);
/* Declares K columns, all of type 0 until set. Returns 0, or -1 when out of
 * memory or for K below 1. */
int vx_data_set_columns(VxData* table, int count);
/* Declares one column's type. For VX_DATA_CUSTOM the reader and release
 * arrays are allocated (once, zeroed) for the owner to fill in. Returns 0, or
 * -1 for a column outside the schema or no memory. */
int vx_data_set_type(VxData* table, int column, int code);
/* Reads and checks the header, then the records. Returns 0; -2, -3, -(10 + i),
 * -4 or -5 for a header that differs from the schema; or, when fewer than N
 * records could be read (the warning line is then printed), the number read,
 * or VX_DATA_NO_RECORD when none was. Records held before are released first. */
int vx_data_read(VxData* table, FILE* stream);
/* The records in file order; null after the last. */
VxDataRecord* vx_data_first(VxData* table);
VxDataRecord* vx_data_next(VxData* table, VxDataRecord* record);
/* Releases every record and the schema; the table is empty again. Returns 0. */
int vx_data_free(VxData* table);

/* Little-endian 32-bit reads shared with the item store: 1, or 0 when the
 * stream ends first. */
int vx_data_read_long(FILE* stream, LONG* value);
/* Bytes from the stream's position to the end of the file; -1 when unknown. */
long long vx_data_bytes_left(FILE* stream);
