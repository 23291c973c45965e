// The layout of a channel segment, as the two processes read and write it. All words are 64-bit
// little-endian and need not be aligned.
//
// Normal mode: word 0, the count, is the number of records waiting; the records follow back to
// back from kRecordsOffset. A record is a word holding its length (kRecordHeaderBytes + payload),
// the kTypeBytes type field (the message type's name, zero-padded, unterminated when it fills the
// field), then the payload. A record is appended only while at least kMinFreeBytes bytes are free
// behind the last one.
//
// Chunk mode, while a record that did not fit is continued: word 0 is kChunkWaiting while a chunk
// waits and 0 once the reader took it; the chunk follows from kRecordsOffset and fills the segment
// unless it is the last of its message.
//
// A writer that gives up on a chunked message (the reader took nothing for the stall limit, or the
// channel is closing) retracts the record if the reader has not seen it yet, and otherwise stores
// kChunkAbandoned into word 0; the reader then drops the message and stores 0. A reader that is
// closing in the middle of a chunked message delivers nothing of it.
//
// Only constants live here: what includes this header depends on no part of the engine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xel {

// The size of a segment unless the channel's options name another.
constexpr std::size_t kSegmentBytes = 671088640;  // 640 MiB

// Every word of the layout: the count or chunk flag, and a record's length.
constexpr std::size_t kWordBytes = 8;
// Where word 0 ends and the first record, or the chunk, begins.
constexpr std::size_t kRecordsOffset = 8;
// A record's type field: the first kTypeBytes characters of the message type's name.
constexpr std::size_t kTypeBytes = 12;
// A record's length word and type field, in front of its payload.
constexpr std::size_t kRecordHeaderBytes = 20;
static_assert(kRecordHeaderBytes == kWordBytes + kTypeBytes, "a record header is length, type");
// A record is written only with at least this many bytes free behind the last one.
constexpr std::size_t kMinFreeBytes = 37;

// Word 0 in chunk mode: a chunk is waiting for the reader.
constexpr std::uint64_t kChunkWaiting = 1;
// Word 0 in chunk mode: the writer gave the chunked message up after the reader saw its record.
constexpr std::uint64_t kChunkAbandoned = ~std::uint64_t(0);

// Not part of the segment: a reader hands each payload over in its own buffer at an address that
// is a multiple of this, or places it so that the byte a placement function names is (see
// ChannelOptions::placement).
constexpr std::size_t kDeliveryAlignment = 16;

}  // namespace xel
