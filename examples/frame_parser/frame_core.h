/* The frame parser's core: finds the frames of the binary protocol described in README.md in a
 * byte stream and decodes them. Pure C without the SDK, so that it is tested and fuzzed without a
 * host. Stateless: every call may run on any thread. */
#ifndef FRAME_CORE_H
#define FRAME_CORE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FP_START 0x7E        /* first byte of every frame */
#define FP_MIN_PAYLOAD 2     /* channel and sequence */
#define FP_MAX_PAYLOAD 64
#define FP_MAX_SAMPLES ((FP_MAX_PAYLOAD - FP_MIN_PAYLOAD) / 2)
#define FP_MAX_FRAME (FP_MAX_PAYLOAD + 3) /* start, length, payload, checksum */

typedef enum fp_error {
  FP_BAD_LENGTH = 1,   /* the length byte is outside 2..64 or leaves an odd sample byte */
  FP_BAD_CHECKSUM = 2  /* the checksum byte does not match */
} fp_error;

/* One good frame; `payload` points into the parsed bytes and is valid during the callback. */
typedef struct fp_frame {
  const uint8_t* payload;
  size_t length;
  uint8_t channel;
  uint8_t sequence;
  size_t sample_count;
  int16_t samples[FP_MAX_SAMPLES];
} fp_frame;

/* What fp_parse reports; any callback may be null. Offsets count from the start of `data`. */
typedef struct fp_handler {
  void (*frame)(void* ctx, const fp_frame* frame);
  void (*bad_frame)(void* ctx, fp_error error, size_t offset);
  void (*noise)(void* ctx, size_t offset, size_t count); /* bytes outside any frame, skipped */
  void* ctx;
} fp_handler;

/* Parses the frames at the front of `data` and returns how many bytes were consumed. A frame
 * that is not complete yet stays unconsumed (with what follows it), waiting for more bytes. A bad
 * frame is reported and only its start byte consumed, so that parsing resynchronises on the next
 * start byte; bytes before a start byte are reported as noise and consumed. */
size_t fp_parse(const uint8_t* data, size_t size, const fp_handler* handler);

/* CRC-8, polynomial 0x07, initial value 0, no reflection: the frame checksum. */
uint8_t fp_crc8(const uint8_t* data, size_t size);

/* Writes the bytes as upper-case hex digits and a terminating zero into `out`, which must hold
 * 2 * size + 1 characters; returns the number of digits. */
size_t fp_hex(const uint8_t* data, size_t size, char* out);

/* Builds the frame of a payload into `out` (FP_MAX_FRAME bytes); returns its size, or 0 when the
 * payload length is invalid. */
size_t fp_encode(const uint8_t* payload, size_t length, uint8_t* out);

#ifdef __cplusplus
}
#endif

#endif /* FRAME_CORE_H */
