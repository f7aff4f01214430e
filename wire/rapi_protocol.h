/* Wire protocol of the simulated handheld's remote-API service.
 *
 * Shared by the handheld-sim daemon, the Linux client of romwiz and the
 * stand-in rapi.dll (mingw, C or C++): plain C, no OS header.
 *
 * Transport: one TCP connection on loopback per client session (default
 * 127.0.0.1:9696, overridden by ROMWIZ_HANDHELD=host:port). Strictly one
 * request, then one response, on a connection.
 *
 * All integers are little-endian 32-bit words.
 *
 *   request:  u32 length | u32 op | payload          (length = 4 + payload)
 *   response: u32 length | u32 op | u32 error | payload   (length = 8 + payload)
 *
 * `error` is the Win32 error code of the call on the handheld (0 = success);
 * the client hands it back through CeGetLastError. A failed call carries no
 * payload. A frame longer than RAPI_MAX_FRAME is a protocol error and ends
 * the connection.
 *
 * Payload items:
 *   u32    a word
 *   str    u32 unit count, then that many UTF-16LE units (no terminator)
 *   bytes  u32 byte count, then the bytes
 *   find   u32 attributes, u32 size high, u32 size low, str name
 *
 * Operations (request payload -> response payload on success):
 *   HELLO            u32 version             -> u32 init result (HRESULT, 0 = S_OK)
 *   CREATE_FILE      u32 access, u32 share, u32 disposition, u32 attributes, str path
 *                                            -> u32 handle
 *   READ_FILE        u32 handle, u32 count   -> bytes
 *   WRITE_FILE       u32 handle, bytes       -> u32 written
 *   CLOSE_HANDLE     u32 handle              -> (none)
 *   GET_FILE_SIZE    u32 handle              -> u32 low, u32 high
 *   DELETE_FILE      str path                -> (none)
 *   MOVE_FILE        str from, str to        -> (none)
 *   COPY_FILE        str from, str to, u32 fail-if-exists -> (none)
 *   CREATE_DIRECTORY str path                -> (none)
 *   REMOVE_DIRECTORY str path                -> (none)
 *   FIND_FIRST       str pattern             -> u32 handle, find
 *   FIND_NEXT        u32 handle              -> find   (error 18 at the end)
 *   FIND_CLOSE       u32 handle              -> (none)
 *   CREATE_PROCESS   str program, str command line
 *                                            -> u32 process, u32 thread, u32 pid, u32 tid
 *   POWER_STATUS     u32 refresh             -> 24 bytes SYSTEM_POWER_STATUS_EX
 *   INVOKE           str library, str function, bytes input
 *                                            -> u32 result (HRESULT), bytes output
 *   REG_OPEN_KEY     u32 key, str sub-key    -> u32 key handle
 *   REG_CREATE_KEY   u32 key, str sub-key    -> u32 key handle, u32 disposition
 *   REG_QUERY_VALUE  u32 key, str name       -> u32 type, bytes data (all of it;
 *                                               the client checks the caller's buffer)
 *   REG_SET_VALUE    u32 key, str name, u32 type, bytes data -> (none)
 *   REG_CLOSE_KEY    u32 key                 -> (none)
 *
 * Registry keys are the predefined ones (HKEY_LOCAL_MACHINE is 0x80000002)
 * or key handles of the connection. A sub-key must not begin with a
 * backslash (error 161, as on the handheld).
 *
 * Handles are per connection and never 0 or 0xFFFFFFFF. Process and thread
 * handles are closed with CLOSE_HANDLE like file handles.
 *
 * A handheld that is not running Windows CE (loader, boot loader, off) reads
 * requests but never answers, as a real one does not speak ActiveSync then.
 */
#ifndef ROMWIZ_RAPI_PROTOCOL_H
#define ROMWIZ_RAPI_PROTOCOL_H

#include <stdint.h>
#include <string.h>

#define RAPI_PROTOCOL_VERSION 1u
#define RAPI_DEFAULT_HOST "127.0.0.1"
#define RAPI_DEFAULT_PORT 9696
#define RAPI_ADDRESS_VARIABLE "ROMWIZ_HANDHELD"
/* Largest frame either side accepts: a 256 KB chunk plus headroom. */
#define RAPI_MAX_FRAME (4u * 1024u * 1024u)
/* Size of SYSTEM_POWER_STATUS_EX on the wire and in memory. */
#define RAPI_POWER_STATUS_SIZE 24u

enum RapiOp {
  RAPI_OP_HELLO = 1,
  RAPI_OP_CREATE_FILE = 2,
  RAPI_OP_READ_FILE = 3,
  RAPI_OP_WRITE_FILE = 4,
  RAPI_OP_CLOSE_HANDLE = 5,
  RAPI_OP_GET_FILE_SIZE = 6,
  RAPI_OP_DELETE_FILE = 7,
  RAPI_OP_MOVE_FILE = 8,
  RAPI_OP_COPY_FILE = 9,
  RAPI_OP_CREATE_DIRECTORY = 10,
  RAPI_OP_REMOVE_DIRECTORY = 11,
  RAPI_OP_FIND_FIRST = 12,
  RAPI_OP_FIND_NEXT = 13,
  RAPI_OP_FIND_CLOSE = 14,
  RAPI_OP_CREATE_PROCESS = 15,
  RAPI_OP_POWER_STATUS = 16,
  RAPI_OP_INVOKE = 17,
  RAPI_OP_REG_OPEN_KEY = 18,
  RAPI_OP_REG_CREATE_KEY = 19,
  RAPI_OP_REG_QUERY_VALUE = 20,
  RAPI_OP_REG_SET_VALUE = 21,
  RAPI_OP_REG_CLOSE_KEY = 22
};

/* Win32 error codes the handheld reports. */
#define RAPI_ERROR_FILE_NOT_FOUND 2u
#define RAPI_ERROR_PATH_NOT_FOUND 3u
#define RAPI_ERROR_ACCESS_DENIED 5u
#define RAPI_ERROR_INVALID_HANDLE 6u
#define RAPI_ERROR_NO_MORE_FILES 18u
#define RAPI_ERROR_GEN_FAILURE 31u
#define RAPI_ERROR_SHARING_VIOLATION 32u
#define RAPI_ERROR_NOT_SUPPORTED 50u
#define RAPI_ERROR_FILE_EXISTS 80u
#define RAPI_ERROR_INVALID_PARAMETER 87u
#define RAPI_ERROR_DIR_NOT_EMPTY 145u
#define RAPI_ERROR_BAD_PATHNAME 161u
#define RAPI_ERROR_ALREADY_EXISTS 183u
#define RAPI_ERROR_BAD_EXE_FORMAT 193u
#define RAPI_ERROR_MORE_DATA 234u
/* Reported by a client whose connection is gone (not sent by the daemon). */
#define RAPI_ERROR_NOT_CONNECTED 2250u

/* HRESULTs of the connection and of CeRapiInvoke. */
#define RAPI_S_OK 0
#define RAPI_E_FAIL ((int32_t)0x80004005u)
#define RAPI_E_PENDING ((int32_t)0x8000000Au)
#define RAPI_E_NOTIMPL ((int32_t)0x80004001u)

static inline void rapi_put_u32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)(v & 0xFFu);
  p[1] = (unsigned char)((v >> 8) & 0xFFu);
  p[2] = (unsigned char)((v >> 16) & 0xFFu);
  p[3] = (unsigned char)((v >> 24) & 0xFFu);
}

static inline uint32_t rapi_get_u32(const unsigned char* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* A growing output buffer over caller memory; `failed` is set (and nothing
 * more is written) when it would overflow. */
struct RapiWriter {
  unsigned char* data;
  uint32_t capacity;
  uint32_t used;
  int failed;
};

static inline void rapi_writer_init(struct RapiWriter* w, unsigned char* data, uint32_t capacity) {
  w->data = data;
  w->capacity = capacity;
  w->used = 0;
  w->failed = 0;
}

static inline void rapi_write_raw(struct RapiWriter* w, const void* bytes, uint32_t n) {
  if (w->failed || n > w->capacity - w->used) {
    w->failed = 1;
    return;
  }
  if (n) memcpy(w->data + w->used, bytes, n);
  w->used += n;
}

static inline void rapi_write_u32(struct RapiWriter* w, uint32_t v) {
  unsigned char b[4];
  rapi_put_u32(b, v);
  rapi_write_raw(w, b, 4);
}

static inline void rapi_write_bytes(struct RapiWriter* w, const void* bytes, uint32_t n) {
  rapi_write_u32(w, n);
  rapi_write_raw(w, bytes, n);
}

/* `units` UTF-16 code units (host order) written as UTF-16LE. */
static inline void rapi_write_str(struct RapiWriter* w, const uint16_t* units, uint32_t count) {
  uint32_t i;
  rapi_write_u32(w, count);
  for (i = 0; i < count && !w->failed; ++i) {
    unsigned char b[2];
    b[0] = (unsigned char)(units[i] & 0xFFu);
    b[1] = (unsigned char)(units[i] >> 8);
    rapi_write_raw(w, b, 2);
  }
}

/* A reader over a received payload; `failed` is set on a short payload. */
struct RapiReader {
  const unsigned char* data;
  uint32_t size;
  uint32_t pos;
  int failed;
};

static inline void rapi_reader_init(struct RapiReader* r, const unsigned char* data, uint32_t size) {
  r->data = data;
  r->size = size;
  r->pos = 0;
  r->failed = 0;
}

static inline uint32_t rapi_read_u32(struct RapiReader* r) {
  uint32_t v;
  if (r->failed || r->size - r->pos < 4) {
    r->failed = 1;
    return 0;
  }
  v = rapi_get_u32(r->data + r->pos);
  r->pos += 4;
  return v;
}

/* Returns a pointer to `*n` bytes inside the payload (null on failure). */
static inline const unsigned char* rapi_read_bytes(struct RapiReader* r, uint32_t* n) {
  const unsigned char* p;
  *n = rapi_read_u32(r);
  if (r->failed || r->size - r->pos < *n) {
    r->failed = 1;
    *n = 0;
    return 0;
  }
  p = r->data + r->pos;
  r->pos += *n;
  return p;
}

/* Copies a string of at most `capacity - 1` units into `out` and terminates
 * it; returns the unit count. A longer string fails the reader. */
static inline uint32_t rapi_read_str(struct RapiReader* r, uint16_t* out, uint32_t capacity) {
  uint32_t count = rapi_read_u32(r), i;
  if (r->failed || count >= capacity || (r->size - r->pos) / 2 < count) {
    r->failed = 1;
    if (capacity) out[0] = 0;
    return 0;
  }
  for (i = 0; i < count; ++i) {
    out[i] = (uint16_t)(r->data[r->pos] | (r->data[r->pos + 1] << 8));
    r->pos += 2;
  }
  out[count] = 0;
  return count;
}

/* Longest handheld path or file name in units, terminator included (MAX_PATH). */
#define RAPI_MAX_PATH 260u

#endif /* ROMWIZ_RAPI_PROTOCOL_H */
