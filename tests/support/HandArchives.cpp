#include "tests/support/HandArchives.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace qmtest {

namespace {

void Number(std::string& out, uint64_t value) {
  for (int n = 0; n < 8; ++n)
    if (value < (uint64_t{1} << (7 * (n + 1)))) {
      out += static_cast<char>(((0xFF00 >> n) & 0xFF) | (value >> (8 * n)));
      for (int i = 0; i < n; ++i) out += static_cast<char>(value >> (8 * i));
      return;
    }
  out += '\xFF';
  for (int i = 0; i < 8; ++i) out += static_cast<char>(value >> (8 * i));
}

void Little(std::string& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out += static_cast<char>(value >> (8 * i));
}

// Raw LZMA2 of bytes, that many zeros, then more bytes; preset 0.
std::string Lzma2(const std::string& before, uint64_t zeros,
                  const std::string& after) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 0);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options},
                           {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK)
    throw std::runtime_error("lzma encoder");
  std::string out;
  const std::string block(1 << 20, '\0');
  char buffer[1 << 16];
  auto feed = [&](const char* data, size_t size, lzma_action action) {
    stream.next_in = reinterpret_cast<const uint8_t*>(data);
    stream.avail_in = size;
    lzma_ret ret;
    do {
      stream.next_out = reinterpret_cast<uint8_t*>(buffer);
      stream.avail_out = sizeof buffer;
      ret = lzma_code(&stream, action);
      if (ret != LZMA_OK && ret != LZMA_STREAM_END)
        throw std::runtime_error("lzma encoding");
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_in > 0 ||
             (action == LZMA_FINISH && ret != LZMA_STREAM_END));
  };
  feed(before.data(), before.size(), LZMA_RUN);
  for (uint64_t left = zeros; left > 0;) {
    const size_t now =
        static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    feed(block.data(), now, LZMA_RUN);
    left -= now;
  }
  feed(after.data(), after.size(), LZMA_RUN);
  feed(nullptr, 0, LZMA_FINISH);
  lzma_end(&stream);
  return out;
}

struct Chunk {
  size_t at, size;
  uint64_t unpacked;
  bool resetsNothing;
};

std::vector<Chunk> Chunks(const std::string& lzma2) {
  std::vector<Chunk> chunks;
  for (size_t at = 0; at < lzma2.size() && lzma2[at] != 0;) {
    auto byte = [&](size_t i) {
      return static_cast<uint32_t>(static_cast<uint8_t>(lzma2[at + i]));
    };
    const uint32_t control = byte(0);
    if (control < 0x80) {
      const size_t size = 3 + (byte(1) << 8 | byte(2)) + 1;
      chunks.push_back({at, size, size - 3, false});
      at += size;
      continue;
    }
    const uint64_t unpacked =
        ((control & 0x1F) << 16 | byte(1) << 8 | byte(2)) + 1;
    const size_t header = ((control >> 5) & 3) >= 2 ? 6 : 5;
    const size_t size = header + (byte(3) << 8 | byte(4)) + 1;
    chunks.push_back({at, size, unpacked, control < 0xA0});
    at += size;
  }
  return chunks;
}

// Bytes, zeros, bytes as LZMA2; `zeros` comes back as the number of zeros
// packed (within a chunk of the asked number). Many zeros are packed once
// in part; then a chunk that packs zeros from a settled coder state, which
// the decoder leaves as it found it, is repeated.
std::string PackedZeros(const std::string& before, uint64_t& zeros,
                        const std::string& after) {
  constexpr uint64_t kSample = uint64_t{16} << 20;
  if (zeros <= 2 * kSample) return Lzma2(before, zeros, after);
  const std::string sample = Lzma2(before, kSample, after);
  const std::vector<Chunk> chunks = Chunks(sample);
  for (size_t i = 1; i + 1 < chunks.size(); ++i) {
    const Chunk& a = chunks[i];
    const Chunk& b = chunks[i + 1];
    if (!a.resetsNothing || a.size != b.size ||
        sample.compare(a.at, a.size, sample, b.at, b.size) != 0)
      continue;
    const uint64_t repeats = (zeros - kSample) / b.unpacked;
    zeros = kSample + repeats * b.unpacked;
    std::string out = sample.substr(0, b.at + b.size);
    out.reserve(out.size() + repeats * b.size + sample.size());
    const std::string chunk = sample.substr(b.at, b.size);
    for (uint64_t r = 0; r < repeats; ++r) out += chunk;
    return out + sample.substr(b.at + b.size);
  }
  throw std::runtime_error("lzma2 chunks of zeros do not settle");
}

// A bit vector of count bits, most significant first, whose first set bits
// are set.
std::string LeadingBits(uint64_t set, uint64_t count) {
  std::string bits((count + 7) / 8, '\0');
  for (uint64_t i = 0; i < set; ++i)
    bits[i / 8] = static_cast<char>(bits[i / 8] | (0x80 >> (i % 8)));
  return bits;
}

std::string Utf16Names(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) {
    for (unsigned char c : name) Little(out, c, 2);
    Little(out, 0, 2);
  }
  return out;
}

// The streams of one LZMA2 folder packed at packPos.
std::string StreamsInfo(uint64_t packPos, uint64_t packSize,
                        uint64_t unpackSize) {
  std::string out;
  out += '\x06';  // pack info
  Number(out, packPos);
  Number(out, 1);
  out += '\x09';
  Number(out, packSize);
  out += '\0';
  out += '\x07';  // unpack info
  out += '\x0B';
  Number(out, 1);
  out += '\0';
  Number(out, 1);  // one coder: LZMA2 with one property byte
  out += '\x21';
  out += '\x21';
  Number(out, 1);
  out += '\x10';  // a 1 MiB dictionary: more than preset 0 uses
  out += '\x0C';
  Number(out, unpackSize);
  out += '\0';
  return out;
}

}  // namespace

namespace {

std::string Le(uint64_t value, int width) {
  std::string bytes;
  Little(bytes, value, width);
  return bytes;
}

// The CRC-16 of LHA, ARC and ZOO.
uint16_t Crc16(const std::string& data) {
  uint16_t crc = 0;
  for (unsigned char c : data) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                      : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

}  // namespace

std::string Arc(const std::vector<std::pair<std::string, std::string>>& members,
                size_t emptyFiles) {
  auto member = [](const std::string& name, const std::string& data) {
    std::string header = "\x1A\x02" + name;
    header.resize(2 + 13, '\0');
    const uint32_t size = static_cast<uint32_t>(data.size());
    return header + Le(size, 4) + Le(0, 4) + Le(Crc16(data), 2) + Le(size, 4) +
           data;
  };
  std::string archive;
  for (const auto& [name, data] : members) archive += member(name, data);
  const std::string empty = member("EMPTY.TXT", "");
  archive.reserve(archive.size() + emptyFiles * empty.size() + 2);
  for (size_t i = 0; i < emptyFiles; ++i) archive += empty;
  return archive + std::string("\x1A\0", 2);
}

std::string Zoo(
    const std::vector<std::pair<std::string, std::string>>& members) {
  constexpr uint32_t kTag = 0xFDC4A7DC;
  constexpr uint32_t kStart = 34;
  constexpr uint32_t kEntry = 51;  // a type 1 directory entry
  auto entry = [&](uint32_t next, uint32_t at, const std::string& name,
                   const std::string& data) {
    const uint32_t size = static_cast<uint32_t>(data.size());
    std::string bytes = Le(kTag, 4) + '\1' + '\0' + Le(next, 4) + Le(at, 4) +
                        Le(0x5921, 2) + Le(0, 2) + Le(Crc16(data), 2) +
                        Le(size, 4) + Le(size, 4) + '\1' +
                        std::string(7, '\0') + Le(0, 2) + name;
    bytes.resize(kEntry, '\0');
    return bytes;
  };
  std::string archive = "ZOO 2.10 Archive.\x1A";
  archive.resize(20, '\0');
  archive += Le(kTag, 4) + Le(kStart, 4) + Le(0u - kStart, 4) + '\2' + '\0';
  archive.resize(kStart, '\0');
  for (const auto& [name, data] : members) {
    const uint32_t at = static_cast<uint32_t>(archive.size()) + kEntry;
    archive += entry(at + static_cast<uint32_t>(data.size()), at, name, data);
    archive += data;
  }
  return archive + entry(0, 0, "", "");
}

std::string Lzh(
    const std::vector<std::pair<std::string, std::string>>& members) {
  std::string archive;
  for (const auto& [name, data] : members) {
    const uint16_t crc = Crc16(data);
    const uint32_t size = static_cast<uint32_t>(data.size());
    std::string header = "-lh0-" + Le(size, 4) + Le(size, 4) +
                         Le(0x1C210000, 4) + '\x20' + '\0' +
                         static_cast<char>(name.size()) + name + Le(crc, 2);
    uint8_t sum = 0;
    for (unsigned char c : header) sum = static_cast<uint8_t>(sum + c);
    archive += static_cast<char>(header.size());
    archive += static_cast<char>(sum);
    archive += header + data;
  }
  return archive + '\0';
}

void MakeSevenZip(const std::string& path,
                  const std::vector<SevenZipMember>& members,
                  uint64_t emptyFiles, const std::string& emptyName) {
  std::string before, after;
  uint64_t zeros = 0;
  size_t zeroMember = members.size();
  for (size_t i = 0; i < members.size(); ++i) {
    (zeroMember < i ? after : before) += members[i].data;
    if (members[i].zeros == 0) continue;
    if (zeroMember < members.size())
      throw std::runtime_error("only one member may have zeros");
    zeroMember = i;
    zeros = members[i].zeros;
  }
  const std::string solid =
      members.empty() ? "" : PackedZeros(before, zeros, after);
  std::vector<uint64_t> sizes;
  uint64_t solidSize = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    sizes.push_back(members[i].data.size() + (i == zeroMember ? zeros : 0));
    solidSize += sizes.back();
  }

  std::string header;
  header += '\x01';
  if (!members.empty()) {
    header += '\x04';
    header += StreamsInfo(0, solid.size(), solidSize);
    header += '\x08';  // substreams: every member's size but the last
    header += '\x0D';
    Number(header, members.size());
    if (members.size() > 1) {
      header += '\x09';
      for (size_t i = 0; i + 1 < sizes.size(); ++i) Number(header, sizes[i]);
    }
    header += '\0';
    header += '\0';
  }
  const uint64_t files = emptyFiles + members.size();
  header += '\x05';
  Number(header, files);
  if (emptyFiles > 0) {
    // The empty streams come first, and every one of them is an empty file.
    const std::string bits = LeadingBits(emptyFiles, files);
    header += '\x0E';
    Number(header, bits.size());
    header += bits;
    const std::string empty = LeadingBits(emptyFiles, emptyFiles);
    header += '\x0F';
    Number(header, empty.size());
    header += empty;
  }
  std::string names = std::string(1, '\0');  // not external
  const std::string emptyUtf16 = Utf16Names({emptyName});
  names.reserve(1 + emptyFiles * emptyUtf16.size());
  for (uint64_t i = 0; i < emptyFiles; ++i) names += emptyUtf16;
  std::vector<std::string> memberNames;
  for (const auto& member : members) memberNames.push_back(member.name);
  names += Utf16Names(memberNames);
  header += '\x11';
  Number(header, names.size());
  header += names;
  names.clear();
  names.shrink_to_fit();
  header += '\0';
  header += '\0';

  const std::string packedHeader = Lzma2(header, 0, "");
  std::string next;
  next += '\x17';  // the header itself is packed
  next += StreamsInfo(solid.size(), packedHeader.size(), header.size());
  next += '\0';

  std::string start;
  Little(start, solid.size() + packedHeader.size(), 8);
  Little(start, next.size(), 8);
  Little(start,
         crc32(0, reinterpret_cast<const Bytef*>(next.data()),
               static_cast<uInt>(next.size())),
         4);
  std::string archive = "7z\xBC\xAF\x27\x1C";
  archive += '\0';
  archive += '\x04';
  Little(archive,
         crc32(0, reinterpret_cast<const Bytef*>(start.data()),
               static_cast<uInt>(start.size())),
         4);
  archive += start + solid + packedHeader + next;
  WriteFile(path, archive);
}

}  // namespace qmtest
