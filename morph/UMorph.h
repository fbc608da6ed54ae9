#pragma once
// The morph model: two pictures, a control-point mesh over each, the in-between mesh and
// the selected point; laying out, editing, drawing and rendering.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "framework/Graphics.h"
#include "morph/Bmp_.h"

namespace qv {

// Keys and mouse buttons held during a mouse event.
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };

class TShiftState {
public:
    constexpr TShiftState() = default;
    constexpr TShiftState(std::initializer_list<TShiftStateItem> items) {
        for (TShiftStateItem item : items) insert(item);
    }
    constexpr bool contains(TShiftStateItem item) const { return (FBits & Bit(item)) != 0; }
    constexpr TShiftState& insert(TShiftStateItem item) { FBits |= Bit(item); return *this; }
    constexpr TShiftState& erase(TShiftStateItem item) { FBits &= uint8_t(~Bit(item)); return *this; }
    constexpr bool empty() const { return FBits == 0; }
    friend constexpr bool operator==(const TShiftState&, const TShiftState&) = default;

private:
    static constexpr uint8_t Bit(TShiftStateItem item) { return uint8_t(1u << unsigned(item)); }
    uint8_t FBits = 0;
};

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// 101 columns of 101 points, indexed [column][row]; one block, copied in one move.
constexpr int32_t MeshSize = 101;
using TMesh = std::array<std::array<TPoint, MeshSize>, MeshSize>;

class TMorphGrid {
public:
    // 5 x 5 points, picture 0 x 0, empty 32-bit pictures, nothing selected (row 0 drawn as
    // selected until the first click).
    TMorphGrid();
    ~TMorphGrid();
    TMorphGrid(const TMorphGrid&) = delete;
    TMorphGrid& operator=(const TMorphGrid&) = delete;

    int32_t PictureWidth = 0;
    int32_t PictureHeight = 0;
    int32_t Cols = 5;
    int32_t Rows = 5;
    TMesh MorphMesh{};  // mesh of the last rendered position; columns and rows 0 .. 99
    int32_t SelCol = -1;
    int32_t SelRow = 0;
    TBmp StartBmp;
    TBmp EndBmp;
    std::string StartFileName;
    std::string EndFileName;
    TMesh StartMesh{};
    TMesh EndMesh{};

    // Both meshes as the same even grid over the picture (all edits lost).
    void ResetGrid();
    // MorphMesh := StartMesh + (Position x (EndMesh - StartMesh)) div 256, over the fixed
    // 100 x 100 block; Position 0 .. 256.
    void ComputeMorphMesh(int32_t Position);
    // Size.X = width, Size.Y = height; lays out the grid only the first time a size is set.
    void SetPictureSize(TPoint Size);
    // Size.X = columns, Size.Y = rows; lays out the grid again.
    void SetGridSize(TPoint Size);
    // Adds a row of points at height Y (a click on the picture) in both meshes and selects
    // its first point; IsStart chooses the mesh that decides where. X is not used.
    void InsertRow(bool IsStart, int32_t X, int32_t Y);
    // Adds a column of points at X in both meshes; Y is not used; the selection stays.
    void InsertColumn(bool IsStart, int32_t X, int32_t Y);
    // Remove the selected row (column) from both meshes; nothing at 2 rows (columns) or
    // without a selected point.
    void DeleteRow();
    void DeleteColumn();

    // Picture files and grid files.
    void LoadStartPicture(const std::string& fileName);
    void LoadEndPicture(const std::string& fileName);
    // A picture the project names but that is found nowhere does not stop the load: it is
    // made white at the project's picture size, its stored name is kept, and
    // MissingPictures says which names were looked for where ("" when all were found).
    void LoadGridFile(const std::string& fileName);
    std::string MissingPictures;
    void SaveGridFile(const std::string& fileName);

    // Renders the in-between picture at Position (0 = start, 256 = end) into Dest, which is
    // made 32-bit; pixels outside every triangle keep their contents.
    // Background: see TBmpMorph::MorphTriangles.
    void RenderMorph(TBitmap& Dest, int32_t Position, const uint32_t* Background = nullptr);

    // The chosen picture with its mesh drawn over it, into Dest.
    void DrawGrid(bool IsStart, TBitmap& Dest);
    // Mouse events of a picture pane; Target is the pane's picture raster, redrawn with
    // DrawGrid. They do nothing unless Shift holds the left button. A press picks a point
    // within Reach pixels (Reach before it to Reach - 1 after it on each axis); a pane
    // that shows the picture shrunk passes a larger reach so points stay easy to hit.
    void GridMouseDown(bool IsStart, TBitmap& Target, TMouseButton Button, TShiftState Shift,
                       int32_t X, int32_t Y, int32_t Reach = 3);
    void GridMouseMove(bool IsStart, TBitmap& Target, TShiftState Shift, int32_t X, int32_t Y);
    void GridMouseUp(bool IsStart, TBitmap& Target, TMouseButton Button, TShiftState Shift,
                     int32_t X, int32_t Y);
    // P with the coordinates of a border point of the selection pinned to its border.
    TPoint ConstrainPoint(TPoint P) const;

    TMesh& Mesh(bool IsStart) { return IsStart ? StartMesh : EndMesh; }
    const TMesh& Mesh(bool IsStart) const { return IsStart ? StartMesh : EndMesh; }
    TBmp& Bmp(bool IsStart) { return IsStart ? StartBmp : EndBmp; }

private:
    // The counts clamped to what the meshes hold, for loops over the points in use: the
    // counts are public and a grid file may bring any value.
    int32_t UsedCols() const;
    int32_t UsedRows() const;
};

}  // namespace qv
