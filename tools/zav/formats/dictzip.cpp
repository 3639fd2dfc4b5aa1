#include "formats/dictzip.h"

#include <sys/stat.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "formats/import_text.h"

namespace zavtool {

namespace {

constexpr unsigned char kGzipId1 = 0x1F, kGzipId2 = 0x8B, kDeflate = 8;
constexpr unsigned kFlagHeaderCrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;
constexpr size_t kGzipFixedHeader = 10;
constexpr uint32_t kChunkLength = 58315;            // the chunk size of dictzip itself
constexpr size_t kMaxChunks = (65535 - 4 - 6) / 2;  // what the extra field can list
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFFull;   // a book holds less than 2 GiB
constexpr size_t kCachedChunks = 16;

uint32_t le16(const unsigned char *p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }

bool endsWith(const std::string &s, const char *suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// Inflate one raw-deflate chunk of a dictzip file (at most `limit` bytes out).
bool inflateChunk(const std::string &in, uint32_t limit, std::string *out) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    out->assign(limit, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef *>(out->data());
    z.avail_out = limit;
    int rc = inflate(&z, Z_SYNC_FLUSH);
    bool ok = (rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR) && z.avail_in == 0;
    out->resize(limit - z.avail_out);
    inflateEnd(&z);
    return ok;
}

Status inflateWhole(const std::string &path, std::string *out) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) return Failure{path + ": cannot open"};
    std::vector<char> buffer(1 << 20);
    for (;;) {
        int got = gzread(in, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got < 0) {
            int code = 0;
            Failure failure{path + ": not a readable gzip file: " + gzerror(in, &code)};
            gzclose(in);
            return failure;
        }
        if (got == 0) break;
        if (out->size() + static_cast<size_t>(got) > kMaxDataBytes) {
            gzclose(in);
            return Failure{path + ": the uncompressed data is larger than a book can hold (2 GiB)"};
        }
        out->append(buffer.data(), static_cast<size_t>(got));
    }
    gzclose(in);
    return Status();
}

}  // namespace

DataFile::~DataFile() {
    if (file_) std::fclose(file_);
}

Status DataFile::open(const std::string &path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return Failure{path + ": cannot open: " + std::strerror(errno)};
    if (endsWith(path, ".dz") || endsWith(path, ".gz")) {
        Result<bool> chunked = openDictzip();
        if (!chunked || *chunked) return chunked.status();
        kind_ = Kind::Inflated;  // gzip without a chunk table
        if (Status inflated = inflateWhole(path, &whole_); !inflated) return inflated;
        size_ = whole_.size();
        return Status();
    }
    struct stat st;
    size_ = ::fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return Status();
}

// Reads the chunk table: true when there is one, false when the file is gzip
// without one; it fails when the file is damaged.
Result<bool> DataFile::openDictzip() {
    struct stat st;
    uint64_t fileSize = ::fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    unsigned char head[kGzipFixedHeader + 2];
    if (std::fread(head, 1, sizeof head, file_) != sizeof head || head[0] != kGzipId1 || head[1] != kGzipId2 ||
        head[2] != kDeflate)
        return Failure{path_ + ": not a gzip file"};
    unsigned flags = head[3];
    if (!(flags & kFlagExtra)) return false;
    std::string extra;
    if (!readAt(file_, kGzipFixedHeader + 2, le16(head + kGzipFixedHeader), &extra))
        return Failure{path_ + ": the gzip header is cut short"};
    uint64_t at = kGzipFixedHeader + 2 + extra.size();
    const auto *x = reinterpret_cast<const unsigned char *>(extra.data());
    size_t count = 0;
    for (size_t i = 0; i + 4 <= extra.size();) {
        size_t length = le16(x + i + 2);
        if (i + 4 + length > extra.size()) break;
        if (x[i] == 'R' && x[i + 1] == 'A' && length >= 6) {
            chunkLength_ = le16(x + i + 6);
            count = le16(x + i + 8);
            if (chunkLength_ == 0 || count == 0 || 6 + 2 * count > length)
                return Failure{path_ + ": the dictzip chunk table is damaged"};
            for (size_t c = 0; c < count; ++c) chunkOffsets_.push_back(le16(x + i + 10 + 2 * c));
        }
        i += 4 + length;
    }
    if (count == 0) return false;
    for (unsigned flag : {kFlagName, kFlagComment}) {
        if (!(flags & flag)) continue;
        int c;
        if (fseeko(file_, static_cast<off_t>(at), SEEK_SET) != 0) return false;
        while ((c = std::getc(file_)) > 0) ++at;
        ++at;
    }
    if (flags & kFlagHeaderCrc) at += 2;
    for (uint64_t &size : chunkOffsets_) {
        uint64_t chunkSize = size;
        size = at;
        at += chunkSize;
    }
    chunkOffsets_.push_back(at);
    if (at > fileSize) return Failure{path_ + ": the dictzip chunk table lists more data than the file holds"};
    kind_ = Kind::Chunked;
    Result<const std::string *> lastChunk = readChunk(count - 1);
    if (!lastChunk) return lastChunk.failure();
    size_ = static_cast<uint64_t>(count - 1) * chunkLength_ + (*lastChunk)->size();
    return true;
}

Result<const std::string *> DataFile::readChunk(size_t chunk) {
    for (size_t i = 0; i < cache_.size(); ++i) {
        if (cache_[i].chunk != chunk) continue;
        std::rotate(cache_.begin(), cache_.begin() + static_cast<ptrdiff_t>(i),
                    cache_.begin() + static_cast<ptrdiff_t>(i) + 1);
        return &cache_[0].data;
    }
    std::string compressed, data;
    bool last = chunk + 1 == chunkOffsets_.size() - 1;
    if (!readAt(file_, chunkOffsets_[chunk], chunkOffsets_[chunk + 1] - chunkOffsets_[chunk], &compressed) ||
        !inflateChunk(compressed, chunkLength_, &data) || (!last && data.size() != chunkLength_))
        return Failure{path_ + ": dictzip chunk " + std::to_string(chunk) + " is damaged"};
    if (cache_.size() == kCachedChunks) cache_.pop_back();
    cache_.insert(cache_.begin(), Cached{chunk, std::move(data)});
    return &cache_[0].data;
}

Result<std::string> DataFile::read(uint64_t offset, uint64_t length) {
    if (offset > size_ || length > size_ - offset)
        return Failure{"the definition (offset " + std::to_string(offset) + ", " + std::to_string(length) +
                       " bytes) lies outside " + path_ + " (" + std::to_string(size_) + " bytes)"};
    if (kind_ == Kind::Inflated) return whole_.substr(static_cast<size_t>(offset), static_cast<size_t>(length));
    std::string out;
    if (kind_ == Kind::Plain) {
        if (readAt(file_, offset, length, &out)) return out;
        return Failure{path_ + ": read error"};
    }
    while (length > 0) {
        size_t chunk = static_cast<size_t>(offset / chunkLength_);
        Result<const std::string *> data = readChunk(chunk);
        if (!data) return data.failure();
        size_t from = static_cast<size_t>(offset % chunkLength_);
        size_t take = static_cast<size_t>(std::min<uint64_t>(length, (*data)->size() - from));
        out.append(**data, from, take);
        offset += take;
        length -= take;
    }
    return out;
}

DictzipWriter::~DictzipWriter() {
    if (streamOpen_) deflateEnd(&stream_);
    if (chunks_) std::fclose(chunks_);
}

Status DictzipWriter::open() {
    chunks_ = std::tmpfile();
    if (!chunks_ || deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return Failure{std::string("cannot start the compression: ") + std::strerror(errno)};
    streamOpen_ = true;
    crc_ = crc32(0, nullptr, 0);
    return Status();
}

Status DictzipWriter::compress() {
    if (sizes_.size() >= kMaxChunks) return Failure{"the data is too large for a dictzip file"};
    // A full flush ends each chunk, the last one too, on a byte boundary
    // with no history, so that every chunk inflates on its own.
    unsigned char out[2 * kChunkLength];
    stream_.next_in = reinterpret_cast<Bytef *>(pending_.data());
    stream_.avail_in = static_cast<uInt>(pending_.size());
    stream_.next_out = out;
    stream_.avail_out = sizeof out;
    int rc = deflate(&stream_, Z_FULL_FLUSH);
    size_t produced = sizeof out - stream_.avail_out;
    if (rc != Z_OK || stream_.avail_in != 0 || produced > 0xFFFF || std::fwrite(out, 1, produced, chunks_) != produced)
        return Failure{"cannot compress the data"};
    sizes_.push_back(static_cast<uint16_t>(produced));
    pending_.clear();
    return Status();
}

Status DictzipWriter::write(const std::string &bytes) {
    crc_ = crc32(crc_, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<uInt>(bytes.size()));
    total_ += bytes.size();
    for (size_t at = 0; at < bytes.size();) {
        Status compressed = pending_.size() == kChunkLength ? compress() : Status();
        if (!compressed) return compressed;
        size_t take = std::min(bytes.size() - at, kChunkLength - pending_.size());
        pending_.append(bytes, at, take);
        at += take;
    }
    return Status();
}

Status DictzipWriter::finish(FILE *out) {
    // The last chunk (one, empty, for no data), then the end of the deflate
    // stream, an empty final block, after the chunks and outside the table.
    Status compressed = !pending_.empty() || sizes_.empty() ? compress() : Status();
    if (!compressed) return compressed;
    unsigned char end[16];
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    stream_.next_out = end;
    stream_.avail_out = sizeof end;
    if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return Failure{"cannot compress the data"};
    std::string head = {static_cast<char>(kGzipId1),
                        static_cast<char>(kGzipId2),
                        static_cast<char>(kDeflate),
                        static_cast<char>(kFlagExtra),
                        0,
                        0,
                        0,
                        0,
                        2,
                        3};
    auto put16 = [&](size_t v) {
        head += static_cast<char>(v & 0xFF);
        head += static_cast<char>(v >> 8 & 0xFF);
    };
    put16(4 + 6 + 2 * sizes_.size());
    head += "RA";
    put16(6 + 2 * sizes_.size());
    put16(1);
    put16(kChunkLength);
    put16(sizes_.size());
    for (uint16_t s : sizes_) put16(s);
    std::string tail(reinterpret_cast<const char *>(end), sizeof end - stream_.avail_out);
    for (uint64_t v : {static_cast<uint64_t>(crc_), total_})
        for (int i = 0; i < 4; ++i) tail += static_cast<char>(v >> (8 * i) & 0xFF);
    bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size() && std::fflush(chunks_) == 0;
    std::rewind(chunks_);
    std::vector<char> buffer(1 << 16);
    for (size_t got; ok && (got = std::fread(buffer.data(), 1, buffer.size(), chunks_)) > 0;)
        ok = std::fwrite(buffer.data(), 1, got, out) == got;
    ok = ok && std::fwrite(tail.data(), 1, tail.size(), out) == tail.size();
    if (!ok) return Failure{std::string("write error: ") + std::strerror(errno)};
    return Status();
}

}  // namespace zavtool
