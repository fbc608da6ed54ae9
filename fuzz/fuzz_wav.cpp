// libFuzzer target: the WAV reader on arbitrary bytes; whatever it accepts is opened as a
// sound track and saved with a one-frame video into a movie, so the interleaving sees
// hostile rates, block sizes and lengths too.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/Stream.h"
#include "framework/System.h"
#include "video/AviFile.h"

namespace {

std::string gFolder;

std::string Path(const char* name) { return gFolder + "/" + name; }

void RemoveFolder() {
    for (const char* name : {"in.wav", "work", "out.avi"}) std::remove(Path(name).c_str());
    rmdir(gFolder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = qv::GetTempPath() + "qv-fuzz-wav-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    gFolder = pattern;
    std::atexit(RemoveFolder);
    qv::AVIFileInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qv;
    TWaveInfo info;
    {
        TMemoryStream memory(data, int64_t(size));
        if (ReadWaveInfo(memory, info) != AVIERR_OK) return 0;
    }
    if (info.DataOffset + info.DataSize > int64_t(size) || info.DataSize % info.BlockAlign != 0) std::abort();
    {
        TFileStream out(Path("in.wav"), fmCreate);
        out.WriteBuffer(data, int64_t(size));
    }
    PAVIFILE wav = nullptr;
    PAVISTREAM sound = nullptr;
    if (AVIFileOpenA(&wav, Path("in.wav").c_str(), OF_READ, nullptr) != AVIERR_OK) std::abort();
    if (AVIFileGetStream(wav, &sound, 0, 0) != AVIERR_OK) std::abort();

    PAVIFILE work = nullptr;
    PAVISTREAM video = nullptr;
    AVIFileOpenA(&work, Path("work").c_str(), OF_CREATE | OF_WRITE, nullptr);
    AVISTREAMINFOA vinfo{};
    vinfo.fccType = streamtypeVIDEO;
    vinfo.dwScale = 40;
    vinfo.dwRate = 1000;
    AVIFileCreateStreamA(work, &video, &vinfo);
    BITMAPINFOHEADER bih{};
    bih.biSize = 40;
    bih.biWidth = 1;
    bih.biHeight = 1;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = 4;
    AVIStreamSetFormat(video, 0, &bih, sizeof bih);
    const uint8_t pixel[4] = {1, 2, 3, 0};
    AVIStreamWrite(video, 0, 1, pixel, 4, AVIIF_KEYFRAME, nullptr, nullptr);

    PAVISTREAM streams[2] = {video, sound};
    if (AVISaveV(Path("out.avi").c_str(), nullptr, nullptr, 2, streams, nullptr) != AVIERR_OK) std::abort();

    AVIStreamRelease(video);
    AVIFileRelease(work);
    AVIStreamRelease(sound);
    AVIFileRelease(wav);
    return 0;
}
