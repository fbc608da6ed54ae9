#pragma once
// Byte streams. Plain Read/Write move what they can and report the count; the
// *Buffer variants insist on the whole count and throw otherwise.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qv {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Moves up to count bytes; returns the number moved (0 at the end). Never throws on a
    // short count; count <= 0 moves nothing.
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position. Seeking before 0 throws EStreamError; beyond the end is allowed.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize) = 0;

    // Reads exactly count bytes or throws EReadError ("Erreur de lecture du flux").
    void ReadBuffer(void* buffer, int64_t count);
    // Writes exactly count bytes or throws EWriteError.
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (the whole source from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

// File open modes, combinable as in the platform: one access mode, optionally a share mode;
// fmCreate creates or empties the file and opens it for reading and writing.
enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

class TFileStream : public TStream {
public:
    // Throws EFOpenError (or EFCreateError with fmCreate) naming the file and the reason.
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;
    const std::string& FileName() const { return FFileName; }
    // Flushes to disk; throws EWriteError on failure (used before replacing a file).
    void Flush();
    // For a file that will be flushed: every megabyte written is sent on to the disk at
    // once, so that Flush waits only for the last of it.
    void SetWriteBehind(bool enabled) { FWriteBehind = enabled; }

private:
    std::string FFileName;
    int FHandle = -1;
    bool FWriteBehind = false;
    int64_t FUnsent = 0;  // bytes written since the last request to send them on
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : FData(std::move(data)) {}
    TMemoryStream(const void* data, int64_t size);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t newSize) override;

    uint8_t* Memory() { return FData.data(); }
    const std::vector<uint8_t>& Data() const { return FData; }
    void Clear();
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& dest);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

}  // namespace qv
