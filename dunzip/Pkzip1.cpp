#include "dunzip/Pkzip1.h"

#include <algorithm>
#include <array>
#include <vector>

namespace dz {

namespace {

// Bits are taken from the low end of each byte first. Reading past the end
// gives zero bits and marks the stream as exhausted.
class BitReader {
 public:
  explicit BitReader(const std::string& data, size_t start = 0)
      : data_(data), pos_(start) {}

  uint32_t Bits(int count) {
    while (have_ < count) {
      uint32_t byte = 0;
      if (pos_ < data_.size())
        byte = static_cast<uint8_t>(data_[pos_]);
      else
        exhausted_ = true;
      ++pos_;
      buffer_ |= byte << have_;
      have_ += 8;
    }
    uint32_t value = buffer_ & ((1u << count) - 1);
    buffer_ >>= count;
    have_ -= count;
    return value;
  }
  bool Exhausted() const { return exhausted_; }

 private:
  const std::string& data_;
  size_t pos_;
  uint32_t buffer_ = 0;
  int have_ = 0;
  bool exhausted_ = false;
};

// Copies `length` bytes from `distance` back; bytes before the start of
// the output count as zeros.
void CopyBack(std::string& out, size_t distance, size_t length, size_t size) {
  for (size_t i = 0; i < length && out.size() < size; ++i)
    out.push_back(distance > out.size() ? '\0' : out[out.size() - distance]);
}

// --- shrink: LZW with 9 to 13 bit codes and partial clearing ----------------

bool Unshrink(const std::string& packed, size_t size, std::string& out,
              std::string& reason) {
  constexpr int kCodes = 8192;
  constexpr int kFirstFree = 257;
  struct Entry {
    int16_t prefix = -1;  // -1: free (codes below 256 are literals)
    uint8_t suffix = 0;
    uint16_t length = 0;
  };
  std::vector<Entry> table(kCodes);
  for (int c = 0; c < 256; ++c) table[c] = {-1, static_cast<uint8_t>(c), 1};
  auto used = [&](int c) { return c < 256 || table[c].length > 0; };
  BitReader in(packed);
  int codeSize = 9;
  int nextFree = kFirstFree;
  int highest = kFirstFree - 1;  // the highest code ever made
  bool addedSinceClear = false;
  auto advanceFree = [&] {
    while (nextFree < kCodes && used(nextFree)) ++nextFree;
  };
  std::string piece;
  auto expand = [&](int code) {
    if (!used(code)) return false;
    piece.assign(table[code].length, '\0');
    for (size_t i = piece.size(); i-- > 0;) {
      piece[i] = static_cast<char>(table[code].suffix);
      code = table[code].prefix;
      if (i > 0 && (code < 0 || !used(code))) return false;
    }
    return true;
  };

  int previous = static_cast<int>(in.Bits(codeSize));
  if (in.Exhausted() || previous > 255) {
    reason = "shrunk data damaged";
    return false;
  }
  out.push_back(static_cast<char>(previous));
  while (out.size() < size) {
    int code = static_cast<int>(in.Bits(codeSize));
    if (in.Exhausted()) break;
    if (code == 256) {
      int control = static_cast<int>(in.Bits(codeSize));
      if (control == 1 && codeSize < 13) {
        ++codeSize;
      } else if (control == 2) {
        // Frees every code that is no other code's prefix. A clear with
        // nothing made since the last one changes nothing (and costs no
        // output, so it is skipped rather than repeated at will).
        if (addedSinceClear) {
          std::vector<bool> isPrefix(highest + 1, false);
          for (int c = kFirstFree; c <= highest; ++c)
            if (used(c) && table[c].prefix >= kFirstFree)
              isPrefix[table[c].prefix] = true;
          for (int c = kFirstFree; c <= highest; ++c)
            if (!isPrefix[c]) table[c] = Entry{};
          nextFree = kFirstFree;
          advanceFree();
          addedSinceClear = false;
        }
      } else {
        reason = "shrunk data damaged";
        return false;
      }
      continue;
    }
    // A code not in the table stands for the previous string and its first
    // byte (the entry about to be made), wherever the free slot lies.
    bool known = used(code);
    int source = known ? code : previous;
    if (!expand(source)) {
      reason = "shrunk data damaged";
      return false;
    }
    if (!known) piece.push_back(piece.front());
    const int made = nextFree;
    if (made < kCodes && table[previous].length < 0xFFFF) {
      table[made] = {static_cast<int16_t>(previous),
                     static_cast<uint8_t>(piece.front()),
                     static_cast<uint16_t>(table[previous].length + 1)};
      highest = std::max(highest, made);
      addedSinceClear = true;
      advanceFree();
    } else if (!known) {
      reason = "shrunk data damaged";
      return false;
    }
    out.append(piece, 0, std::min(piece.size(), size - out.size()));
    previous = known ? code : made;
  }
  if (out.size() < size) {
    reason = "shrunk data ends early";
    return false;
  }
  return true;
}

// --- reduce: follower sets, then a run-length and back-reference coder -----

bool Unreduce(int factor, const std::string& packed, size_t size,
              std::string& out, std::string& reason) {
  BitReader in(packed);
  // Sets hold up to 32 bytes; a 6-bit count beyond that indexes with 6
  // bits, so 64 entries keep any index in bounds.
  std::array<std::array<uint8_t, 64>, 256> followers{};
  std::array<int, 256> counts{};
  for (int j = 255; j >= 0; --j) {
    counts[j] = static_cast<int>(in.Bits(6));
    for (int i = 0; i < counts[j]; ++i)
      followers[j][i] = static_cast<uint8_t>(in.Bits(8));
  }
  auto bitsFor = [](int n) {
    int bits = 1;
    while ((1 << bits) < n) ++bits;
    return bits;
  };
  const uint32_t lengthMask = 0x7Fu >> (factor - 1);
  constexpr uint8_t kDle = 144;
  uint8_t last = 0;
  int state = 0;
  uint32_t v = 0;
  size_t length = 0;
  while (out.size() < size && !in.Exhausted()) {
    uint8_t c;
    if (counts[last] == 0 || in.Bits(1) == 1)
      c = static_cast<uint8_t>(in.Bits(8));
    else
      c = followers[last][in.Bits(bitsFor(counts[last]))];
    if (in.Exhausted()) break;
    last = c;
    switch (state) {
      case 0:
        if (c != kDle)
          out.push_back(static_cast<char>(c));
        else
          state = 1;
        break;
      case 1:
        if (c == 0) {
          out.push_back(static_cast<char>(kDle));
          state = 0;
        } else {
          v = c;
          length = v & lengthMask;
          state = length == lengthMask ? 2 : 3;
        }
        break;
      case 2:
        length += c;
        state = 3;
        break;
      case 3: {
        size_t distance = ((v >> (7 - (factor - 1))) << 8) + c + 1;
        CopyBack(out, distance, length + 3, size);
        state = 0;
        break;
      }
    }
  }
  if (out.size() < size) {
    reason = "reduced data ends early";
    return false;
  }
  return true;
}

// --- implode: Shannon-Fano trees over a sliding dictionary -----------------

// A prefix code given by its code lengths, decoded one bit at a time. The
// stored codes are the bit-inverted canonical codes of those lengths.
class ShannonFano {
 public:
  bool Read(const std::string& packed, size_t& pos, int symbols) {
    if (pos >= packed.size()) return false;
    int entries = static_cast<uint8_t>(packed[pos++]) + 1;
    std::vector<int> lengths;
    for (int i = 0; i < entries; ++i) {
      if (pos >= packed.size()) return false;
      uint8_t b = static_cast<uint8_t>(packed[pos++]);
      lengths.insert(lengths.end(), (b >> 4) + 1, (b & 0x0F) + 1);
    }
    if (static_cast<int>(lengths.size()) != symbols) return false;
    count_.fill(0);
    for (int length : lengths) ++count_[length];
    std::array<int, 18> offset{};
    for (int len = 1; len <= 16; ++len)
      offset[len + 1] = offset[len] + count_[len];
    symbol_.assign(symbols, 0);
    for (int s = 0; s < symbols; ++s) symbol_[offset[lengths[s]]++] = s;
    return true;
  }

  int Decode(BitReader& in) const {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 16; ++len) {
      code |= static_cast<int>(in.Bits(1) ^ 1u);
      int count = count_[len];
      if (code - first < count) return symbol_[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

 private:
  std::array<int, 17> count_{};
  std::vector<int> symbol_;
};

bool Explode(uint16_t flags, const std::string& packed, size_t size,
             std::string& out, std::string& reason) {
  const bool bigWindow = (flags & 2) != 0;
  const bool literalTree = (flags & 4) != 0;
  ShannonFano literals, lengths, distances;
  size_t pos = 0;
  if ((literalTree && !literals.Read(packed, pos, 256)) ||
      !lengths.Read(packed, pos, 64) || !distances.Read(packed, pos, 64)) {
    reason = "imploded trees damaged";
    return false;
  }
  BitReader in(packed, pos);
  const int lowBits = bigWindow ? 7 : 6;
  const size_t minimum = literalTree ? 3 : 2;
  while (out.size() < size && !in.Exhausted()) {
    if (in.Bits(1) == 1) {
      int c = literalTree ? literals.Decode(in) : static_cast<int>(in.Bits(8));
      if (c < 0) break;
      out.push_back(static_cast<char>(c));
      continue;
    }
    uint32_t low = in.Bits(lowBits);
    int high = distances.Decode(in);
    int length = lengths.Decode(in);
    if (high < 0 || length < 0) break;
    size_t total = static_cast<size_t>(length) + minimum;
    if (length == 63) total += in.Bits(8);
    size_t distance = ((static_cast<size_t>(high) << lowBits) | low) + 1;
    CopyBack(out, distance, total, size);
  }
  if (out.size() < size || in.Exhausted()) {
    reason = "imploded data damaged";
    return false;
  }
  return true;
}

}  // namespace

bool IsPkzip1Method(int32_t method) { return method >= 1 && method <= 6; }

bool DecodePkzip1(int32_t method, uint16_t flags, const std::string& packed,
                  size_t size, std::string& out, std::string& reason) {
  out.clear();
  out.reserve(size);
  if (size == 0) return true;
  switch (method) {
    case 1:
      return Unshrink(packed, size, out, reason);
    case 2:
    case 3:
    case 4:
    case 5:
      return Unreduce(method - 1, packed, size, out, reason);
    case 6:
      return Explode(flags, packed, size, out, reason);
    default:
      reason = "unsupported compression method";
      return false;
  }
}

}  // namespace dz
