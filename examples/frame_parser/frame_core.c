#include "frame_core.h"

#include <string.h>

static int valid_length(size_t length) {
  return length >= FP_MIN_PAYLOAD && length <= FP_MAX_PAYLOAD && (length - FP_MIN_PAYLOAD) % 2 == 0;
}

uint8_t fp_crc8(const uint8_t* data, size_t size) {
  uint8_t crc = 0;
  size_t i;
  int bit;
  for (i = 0; i < size; ++i) {
    crc ^= data[i];
    for (bit = 0; bit < 8; ++bit) crc = (uint8_t)((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

size_t fp_hex(const uint8_t* data, size_t size, char* out) {
  static const char digits[] = "0123456789ABCDEF";
  size_t i;
  for (i = 0; i < size; ++i) {
    out[2 * i] = digits[data[i] >> 4];
    out[2 * i + 1] = digits[data[i] & 0x0F];
  }
  out[2 * size] = '\0';
  return 2 * size;
}

size_t fp_encode(const uint8_t* payload, size_t length, uint8_t* out) {
  if (!valid_length(length)) return 0;
  out[0] = FP_START;
  out[1] = (uint8_t)length;
  memcpy(out + 2, payload, length);
  out[2 + length] = fp_crc8(out + 1, length + 1);
  return length + 3;
}

static void decode(const uint8_t* payload, size_t length, fp_frame* frame) {
  size_t i;
  frame->payload = payload;
  frame->length = length;
  frame->channel = payload[0];
  frame->sequence = payload[1];
  frame->sample_count = (length - FP_MIN_PAYLOAD) / 2;
  for (i = 0; i < frame->sample_count; ++i) {
    const uint8_t* p = payload + FP_MIN_PAYLOAD + 2 * i;
    frame->samples[i] = (int16_t)(uint16_t)(p[0] | (p[1] << 8)); /* little-endian */
  }
}

size_t fp_parse(const uint8_t* data, size_t size, const fp_handler* handler) {
  size_t pos = 0;
  while (pos < size) {
    size_t length;
    if (data[pos] != FP_START) {
      const uint8_t* next = (const uint8_t*)memchr(data + pos, FP_START, size - pos);
      const size_t end = next ? (size_t)(next - data) : size;
      if (handler->noise) handler->noise(handler->ctx, pos, end - pos);
      pos = end;
      continue;
    }
    if (size - pos < 2) break; /* the length byte is still to come */
    length = data[pos + 1];
    if (!valid_length(length)) {
      if (handler->bad_frame) handler->bad_frame(handler->ctx, FP_BAD_LENGTH, pos);
      pos += 1;
      continue;
    }
    if (size - pos < length + 3) break; /* the rest of the frame is still to come */
    if (fp_crc8(data + pos + 1, length + 1) != data[pos + 2 + length]) {
      if (handler->bad_frame) handler->bad_frame(handler->ctx, FP_BAD_CHECKSUM, pos);
      pos += 1;
      continue;
    }
    if (handler->frame) {
      fp_frame frame;
      decode(data + pos + 2, length, &frame);
      handler->frame(handler->ctx, &frame);
    }
    pos += length + 3;
  }
  return pos;
}
