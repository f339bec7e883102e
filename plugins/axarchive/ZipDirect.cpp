// Zip members read straight from the file (see ZipDirect.h).
#include "plugins/axarchive/ZipDirect.h"

#include <libdeflate.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t END_SIGNATURE = 0x06054b50, DIRECTORY_SIGNATURE = 0x02014b50, LOCAL_SIGNATURE = 0x04034b50;
constexpr size_t END_RECORD = 22, DIRECTORY_RECORD = 46, LOCAL_RECORD = 30;
// The end record sits at most a full comment (65535 bytes) before the end.
constexpr size_t END_SEARCH = END_RECORD + 0xFFFF;
constexpr uint16_t METHOD_STORED = 0, METHOD_DEFLATED = 8;
constexpr uint16_t FLAG_ENCRYPTED = 1 << 0, FLAG_STRONG_ENCRYPTION = 1 << 6;

uint16_t Le16(const uint8_t *P) { return uint16_t(P[0] | P[1] << 8); }
uint32_t Le32(const uint8_t *P) { return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24; }

// Exactly Size bytes at Offset, or false.
bool ReadAt(int Fd, uint64_t Offset, void *Out, size_t Size) {
  auto *p = static_cast<uint8_t *>(Out);
  while (Size > 0) {
    const ssize_t n = ::pread(Fd, p, Size, off_t(Offset));
    if (n <= 0) return false;
    p += n, Offset += uint64_t(n), Size -= size_t(n);
  }
  return true;
}

struct TFree {
  void operator()(void *P) const { std::free(P); }
};
struct TDecompressorFree {
  void operator()(libdeflate_decompressor *D) const { libdeflate_free_decompressor(D); }
};

}  // namespace

bool ReadZipDirectory(int Fd, uint64_t FileSize, std::vector<TZipRecord> &Records) {
  Records.clear();
  if (FileSize < END_RECORD) return false;
  const size_t tailSize = size_t(std::min<uint64_t>(FileSize, END_SEARCH));
  const uint64_t tailAt = FileSize - tailSize;
  std::vector<uint8_t> tail(tailSize);
  if (!ReadAt(Fd, tailAt, tail.data(), tailSize)) return false;
  // The last end record whose comment reaches exactly to the end of the file.
  const uint8_t *end = nullptr;
  for (size_t at = tailSize - END_RECORD + 1; at-- > 0;) {
    const uint8_t *p = tail.data() + at;
    if (Le32(p) == END_SIGNATURE && at + END_RECORD + Le16(p + 20) == tailSize) {
      end = p;
      break;
    }
  }
  if (!end) return false;
  const uint16_t disk = Le16(end + 4), directoryDisk = Le16(end + 6);
  const uint16_t count = Le16(end + 10);
  const uint32_t directorySize = Le32(end + 12), directoryAt = Le32(end + 16);
  // Split archives and zip64 directories are libarchive's.
  if (disk != 0 || directoryDisk != 0 || count == 0xFFFF || directorySize == 0xFFFFFFFF ||
      directoryAt == 0xFFFFFFFF)
    return false;
  const uint64_t endAt = tailAt + uint64_t(end - tail.data());
  if (uint64_t(directoryAt) + directorySize > endAt) return false;
  std::vector<uint8_t> dir(directorySize);
  if (!ReadAt(Fd, directoryAt, dir.data(), dir.size())) return false;
  size_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (at + DIRECTORY_RECORD > dir.size()) return false;
    const uint8_t *p = dir.data() + at;
    if (Le32(p) != DIRECTORY_SIGNATURE) return false;
    const size_t nameLen = Le16(p + 28), extraLen = Le16(p + 30), commentLen = Le16(p + 32);
    const size_t next = at + DIRECTORY_RECORD + nameLen + extraLen + commentLen;
    if (next > dir.size()) return false;
    TZipRecord r;
    r.Flags = Le16(p + 8);
    r.Method = Le16(p + 10);
    r.Crc = Le32(p + 16);
    r.CompSize = Le32(p + 20);
    r.Size = Le32(p + 24);
    r.LocalOffset = Le32(p + 42);
    r.Name.assign(reinterpret_cast<const char *>(p + DIRECTORY_RECORD), nameLen);
    if (r.CompSize != 0xFFFFFFFF && r.Size != 0xFFFFFFFF && r.LocalOffset != 0xFFFFFFFF)
      Records.push_back(std::move(r));
    at = next;
  }
  std::sort(Records.begin(), Records.end(),
            [](const TZipRecord &A, const TZipRecord &B) { return A.Name < B.Name; });
  return true;
}

const TZipRecord *FindZipRecord(const std::vector<TZipRecord> &Records, const std::string &Name, uint64_t Size) {
  const auto first = std::lower_bound(Records.begin(), Records.end(), Name,
                                      [](const TZipRecord &R, const std::string &N) { return R.Name < N; });
  const auto last = std::upper_bound(first, Records.end(), Name,
                                     [](const std::string &N, const TZipRecord &R) { return N < R.Name; });
  // A name stored twice is ambiguous even when only one has this size:
  // libarchive may be standing at either.
  if (last - first != 1 || first->Size != Size) return nullptr;
  return &*first;
}

// Where the data of the member of Record begins, after checking that its
// local header names the same member with the same method; 0 when it does
// not or when the data would run past the end of the file.
uint64_t MemberDataAt(int Fd, uint64_t FileSize, const TZipRecord &Record) {
  if (Record.Flags & (FLAG_ENCRYPTED | FLAG_STRONG_ENCRYPTION)) return 0;
  if (Record.Method != METHOD_STORED && Record.Method != METHOD_DEFLATED) return 0;
  if (Record.Method == METHOD_STORED && Record.CompSize != Record.Size) return 0;
  uint8_t local[LOCAL_RECORD];
  if (!ReadAt(Fd, Record.LocalOffset, local, sizeof local) || Le32(local) != LOCAL_SIGNATURE) return 0;
  const size_t nameLen = Le16(local + 26), extraLen = Le16(local + 28);
  if (Le16(local + 8) != Record.Method || nameLen != Record.Name.size()) return 0;
  std::string name(nameLen, '\0');
  if (!ReadAt(Fd, Record.LocalOffset + LOCAL_RECORD, name.data(), nameLen) || name != Record.Name) return 0;
  const uint64_t dataAt = uint64_t(Record.LocalOffset) + LOCAL_RECORD + nameLen + extraLen;
  if (dataAt + Record.CompSize > FileSize) return 0;
  return dataAt;
}

TZipRead ReadZipMember(int Fd, uint64_t FileSize, const TZipRecord &Record, void *&Block) {
  Block = nullptr;
  const uint64_t dataAt = MemberDataAt(Fd, FileSize, Record);
  if (dataAt == 0) return TZipRead::Declined;
  std::unique_ptr<uint8_t, TFree> out(static_cast<uint8_t *>(std::malloc(Record.Size ? Record.Size : 1)));
  if (!out) return TZipRead::Declined;
  if (Record.Method == METHOD_STORED) {
    if (!ReadAt(Fd, dataAt, out.get(), Record.Size)) return TZipRead::Declined;
  } else {
    std::unique_ptr<uint8_t, TFree> packed(static_cast<uint8_t *>(std::malloc(Record.CompSize ? Record.CompSize : 1)));
    std::unique_ptr<libdeflate_decompressor, TDecompressorFree> d(libdeflate_alloc_decompressor());
    if (!packed || !d || !ReadAt(Fd, dataAt, packed.get(), Record.CompSize)) return TZipRead::Declined;
    size_t got = 0;
    if (libdeflate_deflate_decompress(d.get(), packed.get(), Record.CompSize, out.get(), Record.Size, &got) !=
            LIBDEFLATE_SUCCESS ||
        got != Record.Size)
      return TZipRead::Damaged;
  }
  if (libdeflate_crc32(0, out.get(), Record.Size) != Record.Crc) return TZipRead::Damaged;
  Block = out.release();
  return TZipRead::Read;
}

bool ReadZipMemberHead(int Fd, uint64_t FileSize, const TZipRecord &Record, uint8_t *Out, uint32_t Want) {
  const uint64_t dataAt = MemberDataAt(Fd, FileSize, Record);
  if (dataAt == 0) return false;
  Want = std::min(Want, Record.Size);
  if (Record.Method == METHOD_STORED) return ReadAt(Fd, dataAt, Out, Want);
  // zlib stops inflating when the head is full, which libdeflate cannot.
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  uint8_t packed[16384];
  uint64_t readAt = dataAt;
  const uint64_t dataEnd = dataAt + Record.CompSize;
  z.next_out = Out;
  z.avail_out = Want;
  int r = Z_OK;
  while (z.avail_out > 0 && r == Z_OK) {
    if (z.avail_in == 0) {
      const size_t n = size_t(std::min<uint64_t>(sizeof packed, dataEnd - readAt));
      if (n == 0 || !ReadAt(Fd, readAt, packed, n)) break;
      readAt += n;
      z.next_in = packed;
      z.avail_in = uInt(n);
    }
    r = inflate(&z, Z_NO_FLUSH);
  }
  const bool full = z.avail_out == 0;
  inflateEnd(&z);
  return full;
}
