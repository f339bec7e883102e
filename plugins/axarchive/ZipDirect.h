// Zip members read straight from the file: the central directory is read
// once, and a stored or deflated member is read with one positioned read
// and, when deflated, decompressed in one call, with its CRC checked.
// libarchive's stream goes through its decompressor in small steps and
// copies each step out; for the photos a zip usually holds this reader takes
// well under half its time, and checks the CRC, which a caller of
// libarchive that stops at the member's size never sees. What this reader
// does not take on (zip64 records, encryption, other methods, a member it
// cannot pin to exactly one record) it declines, and the caller reads the
// member through libarchive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TZipRecord {
  std::string Name;  // the stored bytes of the name
  uint32_t Crc = 0, CompSize = 0, Size = 0, LocalOffset = 0;
  uint16_t Method = 0, Flags = 0;
};

// The central directory of the zip open on Fd, whose length is FileSize;
// false when it cannot be read or needs zip64 (the directory as a whole).
// Records of members that need zip64 are left out.
bool ReadZipDirectory(int Fd, uint64_t FileSize, std::vector<TZipRecord> &Records);

// The one record named Name with Size bytes, or null when there is none or
// more than one.
const TZipRecord *FindZipRecord(const std::vector<TZipRecord> &Records, const std::string &Name, uint64_t Size);

enum class TZipRead {
  Read,      // the member is in the block
  Declined,  // this reader does not take it on: libarchive reads it
  Damaged,   // its data does not decompress to its size or fails its CRC
};

// The member of Record into Block, a block from malloc the caller frees.
// Declined for a method other than stored and deflated, encryption, a local
// header that disagrees with the record, a short read or no memory.
TZipRead ReadZipMember(int Fd, uint64_t FileSize, const TZipRecord &Record, void *&Block);

// The first Want bytes (at most the member's size) of the member of Record
// into Out; false when this reader declines it. Only as much as the head
// needs is read and decompressed, so no CRC can be checked.
bool ReadZipMemberHead(int Fd, uint64_t FileSize, const TZipRecord &Record, uint8_t *Out, uint32_t Want);
