#include "morph/UMorph.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "morph/UBmpMorph.h"

namespace qv {

namespace {

// Points of the grid's first and last rows and columns are only on the picture; interior
// points may be anywhere, and a grid file may bring any value. Marker and hit-test
// arithmetic near the ends of the 32-bit range is done in 64 bits and saturated.
int32_t Saturate(int64_t v) {
    return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// Trunc(i x Step) with the product formed exactly: a 53-bit mantissa times a 7-bit index
// fits the 64-bit mantissa of the x86 extended type, so the product is not rounded.
static_assert(std::numeric_limits<long double>::digits >= 64,
              "even grid layout needs an extended-precision product");
int32_t GridCoordinate(int32_t i, double step) {
    return int32_t(std::trunc(static_cast<long double>(i) * static_cast<long double>(step)));
}

TPoint Midpoint(TPoint P, TPoint Q) {
    return {WrapAdd(P.X, Q.X) / 2, WrapAdd(P.Y, Q.Y) / 2};
}

}  // namespace

TMorphGrid::TMorphGrid() = default;
TMorphGrid::~TMorphGrid() = default;

int32_t TMorphGrid::UsedCols() const { return std::clamp<int32_t>(Cols, 0, MeshSize - 1); }
int32_t TMorphGrid::UsedRows() const { return std::clamp<int32_t>(Rows, 0, MeshSize - 1); }

void TMorphGrid::ResetGrid() {
    if (Cols == 0 || Rows == 0) return;
    // A single column (row), which only a grid file can bring, sits at 0 rather than
    // dividing by zero.
    const double stepX = Cols == 1 ? 0.0 : double(PictureWidth) / (double(Cols) - 1.0);
    const double stepY = Rows == 1 ? 0.0 : double(PictureHeight) / (double(Rows) - 1.0);
    const int32_t cols = std::min(Cols, MeshSize);
    const int32_t rows = std::min(Rows, MeshSize);
    for (int32_t j = 0; j < rows; ++j) {
        const int32_t y = GridCoordinate(j, stepY);
        for (int32_t i = 0; i < cols; ++i) {
            const TPoint p{GridCoordinate(i, stepX), y};
            StartMesh[size_t(i)][size_t(j)] = p;
            EndMesh[size_t(i)][size_t(j)] = p;
        }
    }
}

void TMorphGrid::ComputeMorphMesh(int32_t Position) {
    for (size_t i = 0; i < 100; ++i)
        for (size_t j = 0; j < 100; ++j) {
            const TPoint S = StartMesh[i][j];
            const TPoint E = EndMesh[i][j];
            MorphMesh[i][j] = {WrapAdd(S.X, WrapMul(Position, WrapSub(E.X, S.X)) / 256),
                               WrapAdd(S.Y, WrapMul(Position, WrapSub(E.Y, S.Y)) / 256)};
        }
}

void TMorphGrid::SetPictureSize(TPoint Size) {
    const bool first = PictureWidth == 0;
    PictureWidth = Size.X;
    PictureHeight = Size.Y;
    if (first) ResetGrid();
}

void TMorphGrid::SetGridSize(TPoint Size) {
    Cols = Size.X;
    Rows = Size.Y;
    ResetGrid();
}

// The new row goes between the two rows nearest the click: at least the last row moves
// down and row 0 never does, so a click below the last row or above the first still adds
// a row inside the grid and nothing outside the meshes is read or written.
void TMorphGrid::InsertRow(bool IsStart, int32_t /*X*/, int32_t Y) {
    if (Rows >= 100 || Rows < 2) return;
    const TMesh& M = Mesh(IsStart);
    const int32_t cols = UsedCols();
    int32_t k = Rows - 1;
    ++Rows;
    do {
        for (int32_t i = 0; i < cols; ++i) {
            StartMesh[size_t(i)][size_t(k + 1)] = StartMesh[size_t(i)][size_t(k)];
            EndMesh[size_t(i)][size_t(k + 1)] = EndMesh[size_t(i)][size_t(k)];
        }
        --k;
    } while (k >= 1 && M[0][size_t(k)].Y > Y);
    ++k;
    for (int32_t i = 0; i < cols; ++i) {
        auto& s = StartMesh[size_t(i)];
        auto& e = EndMesh[size_t(i)];
        s[size_t(k)] = Midpoint(s[size_t(k - 1)], s[size_t(k + 1)]);
        e[size_t(k)] = Midpoint(e[size_t(k - 1)], e[size_t(k + 1)]);
    }
    SelCol = 0;
    SelRow = k;
}

// Same placement rule as InsertRow, by the first row's X; the selection stays.
void TMorphGrid::InsertColumn(bool IsStart, int32_t X, int32_t /*Y*/) {
    if (Cols >= 100 || Cols < 2) return;
    const TMesh& M = Mesh(IsStart);
    const int32_t rows = UsedRows();
    int32_t k = Cols - 1;
    ++Cols;
    do {
        // Columns are contiguous, so shifting one is a block copy of its rows in use.
        std::copy_n(StartMesh[size_t(k)].begin(), rows, StartMesh[size_t(k + 1)].begin());
        std::copy_n(EndMesh[size_t(k)].begin(), rows, EndMesh[size_t(k + 1)].begin());
        --k;
    } while (k >= 1 && M[size_t(k)][0].X > X);
    ++k;
    for (int32_t j = 0; j < rows; ++j) {
        StartMesh[size_t(k)][size_t(j)] =
            Midpoint(StartMesh[size_t(k - 1)][size_t(j)], StartMesh[size_t(k + 1)][size_t(j)]);
        EndMesh[size_t(k)][size_t(j)] =
            Midpoint(EndMesh[size_t(k - 1)][size_t(j)], EndMesh[size_t(k + 1)][size_t(j)]);
    }
}

// Without a selected row (SelRow = -1) there is nothing to delete; copying would start
// before the first row.
void TMorphGrid::DeleteRow() {
    if (Rows <= 2 || Rows > 100 || SelRow < 0) return;
    const int32_t cols = UsedCols();
    for (int32_t i = SelRow; i < Rows; ++i)
        for (int32_t c = 0; c < cols; ++c) {
            StartMesh[size_t(c)][size_t(i)] = StartMesh[size_t(c)][size_t(i + 1)];
            EndMesh[size_t(c)][size_t(i)] = EndMesh[size_t(c)][size_t(i + 1)];
        }
    --Rows;
}

void TMorphGrid::DeleteColumn() {
    if (Cols <= 2 || Cols > 100 || SelCol < 0) return;
    const int32_t rows = UsedRows();
    for (int32_t i = SelCol; i < Cols; ++i) {
        std::copy_n(StartMesh[size_t(i + 1)].begin(), rows, StartMesh[size_t(i)].begin());
        std::copy_n(EndMesh[size_t(i + 1)].begin(), rows, EndMesh[size_t(i)].begin());
    }
    --Cols;
}

void TMorphGrid::RenderMorph(TBitmap& Dest, int32_t Position, const uint32_t* Background) {
    TBmpMorph start(StartBmp);
    TBmpMorph end(EndBmp);
    TBmpMorph dest(Dest);
    ComputeMorphMesh(Position);
    const TMesh& M = MorphMesh;
    const TMesh& S = StartMesh;
    const TMesh& E = EndMesh;
    // MorphMesh is computed for columns and rows 0 .. 99 only.
    const int32_t cols = std::min(UsedCols(), int32_t(100));
    const int32_t rows = std::min(UsedRows(), int32_t(100));
    // All triangles go to the accessor at once, in drawing order, so that its row bands
    // run in parallel over the whole mesh.
    std::vector<TMorphTriangleCoords> batch(size_t(std::max(cols - 1, 0)) * size_t(std::max(rows - 1, 0)) * 2);
    size_t n = 0;
    for (int32_t jj = 0; jj + 1 < rows; ++jj)
        for (int32_t ii = 0; ii + 1 < cols; ++ii) {
            const size_t i = size_t(ii), j = size_t(jj);
            // Cut along the diagonal from the top-right to the bottom-left point.
            batch[n++] = {M[i][j].X, M[i][j].Y, M[i + 1][j].X, M[i + 1][j].Y, M[i][j + 1].X, M[i][j + 1].Y,
                          S[i][j].X, S[i][j].Y, S[i + 1][j].X, S[i + 1][j].Y, S[i][j + 1].X, S[i][j + 1].Y,
                          E[i][j].X, E[i][j].Y, E[i + 1][j].X, E[i + 1][j].Y, E[i][j + 1].X, E[i][j + 1].Y};
            batch[n++] = {M[i + 1][j].X, M[i + 1][j].Y, M[i + 1][j + 1].X, M[i + 1][j + 1].Y, M[i][j + 1].X,
                          M[i][j + 1].Y, S[i + 1][j].X, S[i + 1][j].Y, S[i + 1][j + 1].X, S[i + 1][j + 1].Y,
                          S[i][j + 1].X, S[i][j + 1].Y, E[i + 1][j].X, E[i + 1][j].Y, E[i + 1][j + 1].X,
                          E[i + 1][j + 1].Y, E[i][j + 1].X, E[i][j + 1].Y};
        }
    dest.MorphTriangles(batch.data(), n, start, end, Position, Background);
}

void TMorphGrid::DrawGrid(bool IsStart, TBitmap& Dest) {
    const TMesh& P = Mesh(IsStart);
    Bmp(IsStart).DrawTo(0, 0, Dest);
    TCanvas& canvas = Dest.Canvas();
    const int32_t cols = UsedCols();
    const int32_t rows = UsedRows();

    for (int32_t j = 0; j < rows; ++j) {
        canvas.Pen.Color = j == SelRow ? clGreen : clGray;
        canvas.MoveTo(P[0][size_t(j)].X, P[0][size_t(j)].Y);
        for (int32_t i = 1; i < cols; ++i) canvas.LineTo(P[size_t(i)][size_t(j)].X, P[size_t(i)][size_t(j)].Y);
    }
    for (int32_t i = 0; i < cols; ++i) {
        canvas.Pen.Color = i == SelCol ? clGreen : clGray;
        canvas.MoveTo(P[size_t(i)][0].X, P[size_t(i)][0].Y);
        for (int32_t j = 1; j < rows; ++j) canvas.LineTo(P[size_t(i)][size_t(j)].X, P[size_t(i)][size_t(j)].Y);
    }

    canvas.Pen.Style = psSolid;
    canvas.Pen.Color = clLime;
    canvas.Brush.Style = bsClear;
    for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < cols; ++i) {
            const int64_t x = P[size_t(i)][size_t(j)].X;
            const int64_t y = P[size_t(i)][size_t(j)].Y;
            TColor marker = clLime;
            if (i == SelCol && j == SelRow) {
                canvas.Pen.Color = clWhite;
                canvas.Rectangle(Saturate(x - 1), Saturate(y - 1), Saturate(x + 2), Saturate(y + 2));
                marker = clRed;
            }
            canvas.Pen.Color = marker;
            canvas.Rectangle(Saturate(x - 2), Saturate(y - 2), Saturate(x + 3), Saturate(y + 3));
        }
}

void TMorphGrid::GridMouseDown(bool IsStart, TBitmap& Target, TMouseButton /*Button*/,
                               TShiftState Shift, int32_t X, int32_t Y, int32_t Reach) {
    if (!Shift.contains(ssLeft)) return;
    SelCol = -1;
    SelRow = -1;
    const TMesh& P = Mesh(IsStart);
    const int32_t cols = UsedCols();
    const int32_t rows = UsedRows();
    // Later hits win: the highest row, then the highest column within reach.
    for (int32_t j = 0; j < rows; ++j)
        for (int32_t i = 0; i < cols; ++i) {
            const int64_t px = P[size_t(i)][size_t(j)].X;
            const int64_t py = P[size_t(i)][size_t(j)].Y;
            if (px - Reach <= X && X < px + Reach && py - Reach <= Y && Y < py + Reach) {
                SelCol = i;
                SelRow = j;
            }
        }
    DrawGrid(IsStart, Target);
}

void TMorphGrid::GridMouseMove(bool IsStart, TBitmap& Target, TShiftState Shift, int32_t X,
                               int32_t Y) {
    if (!Shift.contains(ssLeft)) return;
    // The selection fields are public; only a point inside the mesh is ever written.
    if (SelCol != -1 && SelRow != -1 && SelCol >= 0 && SelCol < MeshSize && SelRow >= 0 &&
        SelRow < MeshSize)
        Mesh(IsStart)[size_t(SelCol)][size_t(SelRow)] = ConstrainPoint({X, Y});
    DrawGrid(IsStart, Target);
}

void TMorphGrid::GridMouseUp(bool IsStart, TBitmap& Target, TMouseButton /*Button*/,
                             TShiftState Shift, int32_t X, int32_t Y) {
    GridMouseMove(IsStart, Target, Shift, X, Y);
}

TPoint TMorphGrid::ConstrainPoint(TPoint P) const {
    if (SelCol == 0) P.X = 0;
    if (SelRow == 0) P.Y = 0;
    if (int64_t(SelCol) == int64_t(Cols) - 1) P.X = PictureWidth;
    if (int64_t(SelRow) == int64_t(Rows) - 1) P.Y = PictureHeight;
    return P;
}

}  // namespace qv
