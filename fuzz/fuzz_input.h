// How a fuzz target reads its input: fixed-width little-endian numbers and length-prefixed blobs, taken
// in order from what is left. An input that runs out yields zeros and empty blobs, so that every input,
// however short, describes one complete situation. The seed corpora are written in this layout
// (fuzz/make_seeds.py).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Flag() { return (Byte() & 1) != 0; }
    uint16_t Word() {
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    // A 16-bit length, then that many bytes (fewer when the input ends first).
    std::vector<uint8_t> Blob() {
        size_t length = Word();
        size_t available = size_ - at_;
        if (length > available) {
            length = available;
        }
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + length);
        at_ += length;
        return bytes;
    }
    // A blob read as UTF-16 code units; an odd last byte is dropped.
    std::u16string Units() {
        std::vector<uint8_t> bytes = Blob();
        std::u16string units;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        return units;
    }
    // A name as the W functions take it: the units up to the first NUL.
    std::u16string Name() {
        std::u16string units = Units();
        return units.substr(0, units.find(u'\0'));
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace fuzz
