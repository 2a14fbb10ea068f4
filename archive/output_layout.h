// The layout of an output file, the self-extracting executable. The Maker
// writes it (build job) and the stub reads it (payload location); both take
// their constants from here.
//
//   offset 0        S bytes   stub image, byte for byte (an "MZ" executable)
//   offset S        A bytes   payload: a ZIP archive whose offsets count
//                             from its own first byte
//   offset S + A    4 bytes   trailer: A as unsigned 32-bit little-endian
//
//   +----------------+---------------------------------------+---------+
//   | stub image (S) | local headers | central dir | end rec | trailer |
//   +----------------+---------------------------------------+---------+
//                                                  ^ 22 bytes  ^ 4 bytes
//
// The archive has no comment, so its end-of-central-directory record sits
// 26 bytes before the end of the file. The stub finds the payload from that
// record alone: start = end record position - (central directory size +
// central directory offset). It never reads the trailer and never depends on
// its own length.
#ifndef VEZOVUD_ARCHIVE_OUTPUT_LAYOUT_H
#define VEZOVUD_ARCHIVE_OUTPUT_LAYOUT_H

#include <stdint.h>

const int kTrailerBytes = 4;
const int kEndRecordBytes = 22;
const uint32_t kEndRecordSignature = 0x06054b50;  // "PK\5\6"
// The end record must start within this many bytes of the file's end.
const int kEndRecordSearchBytes = 65535;
// Payloads of 2 GiB or more are outside what an output file holds.
const int64_t kMaxPayloadBytes = 0x7fffffff;

#endif
