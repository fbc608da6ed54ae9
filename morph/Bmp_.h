#pragma once
// The engine's 32-bit rasters with a cached row table, and row lookup for any raster.
#include <cstdint>
#include <vector>

#include "framework/Graphics.h"

namespace qv {

// A raster that keeps the address of every row, refreshed by its own width and height
// setters, so pixel loops need no framework call per row.
class TBmpFast : public TBitmap {
public:
    TBmpFast() = default;

    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;

    // Assignment and loading replace the storage; the table follows so that it never
    // points into freed memory.
    void Assign(const TBitmap& source) override;
    void LoadImageStream(TStream& stream) override;
    void LoadImageFile(const std::string& fileName) override;

    // Height entries, entry i = the framework's address of row i; empty for an empty raster.
    void RebuildRowTable();
    // True while the table still matches the storage (same first row, pitch and height).
    bool RowTableValid() const;

    const std::vector<uint8_t*>& RowTable() const { return FRowTable; }

protected:
    std::vector<uint8_t*> FRowTable;

private:
    // Storage the table was built from, to notice a reallocation behind our back
    // (a pixel-format change through the base class).
    const uint8_t* FTableBase = nullptr;
    int32_t FTablePitch = 0;
};

// The 32-bit, non-transparent raster the morph grid keeps its two pictures in.
class TBmp : public TBmpFast {
public:
    TBmp();

    static const TBitmapClass Class;
    const TBitmapClass& ClassType() const override { return Class; }

    // A TBmp stays 32-bit whatever is assigned or loaded into it.
    void Assign(const TBitmap& source) override;
    void LoadImageStream(TStream& stream) override;
    void LoadImageFile(const std::string& fileName) override;

    // Copies the whole picture into Dest with its top-left pixel at (X, Y), clipped to
    // both rasters, all four bytes of every pixel; Dest becomes 32-bit and is marked
    // modified (also when nothing was copied).
    void DrawTo(int32_t X, int32_t Y, TBitmap& Dest);
};

// Address of row Row of Bitmap. For a raster whose class is exactly TBmpFast or TBmp the
// address comes from its table and a row outside 0 .. Height - 1 gives null; any other
// raster (derived classes included) is asked directly and a bad row throws.
uint8_t* FastRowAddress(TBitmap& Bitmap, int32_t Row);

}  // namespace qv
