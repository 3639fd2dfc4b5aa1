// Dictionary data files: plain, gzip, or dictzip (gzip whose extra field
// "RA" lists independently compressed chunks, so that any part can be read
// without inflating what comes before it).
#ifndef ZAV_TOOL_DICTZIP_H
#define ZAV_TOOL_DICTZIP_H

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/result.h"

namespace zavtool {

// Random access to the uncompressed bytes of a data file. A dictzip file is
// read one chunk at a time (the last chunk read is kept); a gzip file without
// chunks is inflated whole once, up to the 2 GiB a book can hold.
class DataFile {
public:
    DataFile() = default;
    DataFile(const DataFile &) = delete;
    DataFile &operator=(const DataFile &) = delete;
    ~DataFile();
    // Opens PATH; a name ending in .dz or .gz is taken as gzip/dictzip. The
    // failure names the file.
    Status open(const std::string &path);
    uint64_t size() const { return size_; }
    const std::string &path() const { return path_; }
    // The `length` bytes at `offset`; it fails when they lie outside the
    // data or cannot be read.
    Result<std::string> read(uint64_t offset, uint64_t length);

private:
    Result<bool> openDictzip();
    Result<const std::string *> readChunk(size_t chunk);
    FILE *file_ = nullptr;
    std::string path_;
    uint64_t size_ = 0;
    enum class Kind { Plain, Chunked, Inflated } kind_ = Kind::Plain;
    std::string whole_;                   // Inflated: all the data
    uint32_t chunkLength_ = 0;            // Chunked: uncompressed bytes per chunk
    std::vector<uint64_t> chunkOffsets_;  // Chunked: file offset of each chunk, and the end
    // The chunks read last, most recent first (a few, so that definitions
    // read out of order seldom inflate a chunk again).
    struct Cached {
        size_t chunk;
        std::string data;
    };
    std::vector<Cached> cache_;
};

// Writes a dictzip file: the data is compressed in chunks of 58315 bytes
// with a full flush after each (the last too, so that every chunk inflates
// on its own), the chunk sizes go into the gzip header, and the deflate
// stream's final empty block follows the last chunk, outside the table, as
// dictzip writes it. The compressed chunks wait in an anonymous temporary
// file until finish().
class DictzipWriter {
public:
    DictzipWriter() = default;
    DictzipWriter(const DictzipWriter &) = delete;
    DictzipWriter &operator=(const DictzipWriter &) = delete;
    ~DictzipWriter();
    Status open();
    Status write(const std::string &bytes);
    uint64_t written() const { return total_; }
    // Write the whole file to `out`.
    Status finish(FILE *out);

private:
    Status compress();
    z_stream stream_{};
    bool streamOpen_ = false;
    FILE *chunks_ = nullptr;
    std::string pending_;
    std::vector<uint16_t> sizes_;
    uint64_t total_ = 0;
    uLong crc_ = 0;
};

}  // namespace zavtool

#endif
