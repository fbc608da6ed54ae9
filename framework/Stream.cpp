#include "framework/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "framework/Exceptions.h"

namespace qv {

// ---------------------------------------------------------------- TStream

int64_t TStream::Size() {
    const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    const int64_t size = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    if (count < 0) return 0;
    const int64_t total = count;
    std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    while (count > 0) {
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(chunk.size()));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        count -= n;
    }
    return total;
}

// ---------------------------------------------------------------- TFileStream

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : FFileName(fileName) {
    const bool create = (mode & fmCreate) == fmCreate;
    int flags = O_CLOEXEC;
    if (create) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 3) {
            case fmOpenWrite: flags |= O_WRONLY; break;
            case fmOpenReadWrite: flags |= O_RDWR; break;
            default: flags |= O_RDONLY; break;
        }
    }
    int fd;
    do {
        fd = ::open(fileName.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    int err = errno;
    if (fd >= 0) {
        // A folder opens fine for reading but is no file to stream from.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            fd = -1;
            err = EISDIR;
        }
    }
    if (fd < 0) {
        if (create)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), std::strerror(err)));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(err)));
    }
    FHandle = fd;
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        const size_t ask = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        const ssize_t n = ::read(FHandle, p + done, ask);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        const size_t ask = static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30));
        const ssize_t n = ::write(FHandle, p + done, ask);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    if (FWriteBehind && (FUnsent += done) >= (int64_t(1) << 20)) {
        // Only a request, for whatever of the file is not on its way yet: errors show in
        // Flush, which waits for all of it.
        ::sync_file_range(FHandle, 0, 0, SYNC_FILE_RANGE_WRITE);
        FUnsent = 0;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                           : SEEK_END;
    const off_t pos = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (pos < 0)
        throw EStreamError(Format("Cannot seek in file \"%s\". %s", FFileName.c_str(), std::strerror(errno)));
    return pos;
}

void TFileStream::SetSize(int64_t newSize) {
    if (newSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
        throw EStreamError(Format("Cannot set the size of file \"%s\". %s", FFileName.c_str(),
                                  newSize < 0 ? "Negative size" : std::strerror(errno)));
    if (Position() > newSize) SetPosition(newSize);
}

void TFileStream::Flush() {
    if (::fsync(FHandle) != 0)
        throw EWriteError(Format("Cannot write file \"%s\" to disk. %s", FFileName.c_str(), std::strerror(errno)));
}

// ---------------------------------------------------------------- TMemoryStream

TMemoryStream::TMemoryStream(const void* data, int64_t size) {
    if (size > 0) {
        const auto* p = static_cast<const uint8_t*>(data);
        FData.assign(p, p + size);
    }
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || FPosition >= size) return 0;
    const int64_t n = std::min(count, size - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    // Guards the end position against overflow before any allocation.
    if (count > std::numeric_limits<int64_t>::max() - FPosition) return 0;
    const int64_t end = FPosition + count;
    if (end > Size()) {
        // Grow geometrically so that many small writes stay linear overall; a gap left by a
        // seek beyond the end reads as zeros.
        if (static_cast<uint64_t>(end) > FData.capacity())
            FData.reserve(std::max<size_t>(static_cast<size_t>(end), FData.capacity() * 2));
        FData.resize(static_cast<size_t>(end));
    }
    std::memcpy(FData.data() + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = FPosition;
    if (origin == TSeekOrigin::soEnd) base = Size();
    if ((offset < 0 && base + offset < 0) ||
        (offset > 0 && offset > std::numeric_limits<int64_t>::max() - base))
        throw EStreamError(Format("Invalid stream position (%lld %+lld)", static_cast<long long>(base),
                                  static_cast<long long>(offset)));
    FPosition = base + offset;
    return FPosition;
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EStreamError("Invalid stream size");
    FData.resize(static_cast<size_t>(newSize));
    if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const int64_t size = source.Size();
    std::vector<uint8_t> data(static_cast<size_t>(std::max<int64_t>(size, 0)));
    source.ReadBuffer(data.data(), size);
    FData = std::move(data);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& dest) {
    dest.WriteBuffer(FData.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

}  // namespace qv
