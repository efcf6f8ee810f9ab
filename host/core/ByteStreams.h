// Where the image codecs read a file's bytes from and write them to: the
// platform's files (host/ImageFile.cpp) or memory (tests, fuzzers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// Bytes read at any offset.
class SeekableSource {
public:
    virtual ~SeekableSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies up to `size` bytes at `offset` into `into`; answers how many
    // (fewer at the end of the file, 0 past it or when reading failed).
    virtual size_t ReadAt(uint64_t offset, void *into, size_t size) = 0;
};

// Bytes written at any offset (a codec may go back to mend its header).
class SeekableSink {
public:
    virtual ~SeekableSink() = default;
    virtual uint64_t Size() const = 0;
    // False when not every byte could be written; Failure() then says why,
    // in words.
    virtual bool WriteAt(uint64_t offset, const void *bytes, size_t size) = 0;
    virtual std::string Failure() const = 0;
};

class MemorySource : public SeekableSource {
public:
    MemorySource(const uint8_t *bytes, size_t size) : bytes_(bytes), size_(size) {}
    uint64_t Size() const override { return size_; }
    size_t ReadAt(uint64_t offset, void *into, size_t size) override
    {
        if (offset >= size_)
            return 0;
        const size_t n = size_t(std::min<uint64_t>(size, size_ - offset));
        std::memcpy(into, bytes_ + offset, n);
        return n;
    }

private:
    const uint8_t *bytes_;
    size_t size_;
};

// Grows as written; with a limit, a write past it fails as a full disk does.
class MemorySink : public SeekableSink {
public:
    explicit MemorySink(uint64_t limit = UINT64_MAX) : limit_(limit) {}
    uint64_t Size() const override { return bytes.size(); }
    bool WriteAt(uint64_t offset, const void *data, size_t size) override
    {
        if (offset > limit_ || size > limit_ - offset) {
            failure_ = "the disk is full";
            return false;
        }
        if (offset + size > bytes.size())
            bytes.resize(size_t(offset + size));
        if (size != 0)
            std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    std::string Failure() const override { return failure_; }

    std::vector<uint8_t> bytes;

private:
    uint64_t limit_;
    std::string failure_;
};
