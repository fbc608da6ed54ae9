// The grid proposals: matched end points, and a grid laid on a face's landmarks.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "align/Align.h"
#include "align/FaceLandmarks.h"
#include "align/SimilarMatch.h"

namespace qv {

namespace {

constexpr const char* kInstalledModel = "/usr/share/dlib/shape_predictor_68_face_landmarks.dat";

void CheckPictures(const TMorphGrid& Grid) {
    if (Grid.StartBmp.Empty() || Grid.EndBmp.Empty())
        throw EAlignError(std::string("There is no ") + (Grid.StartBmp.Empty() ? "start" : "end") +
                          " picture to match: load a start and an end picture first.");
    if (Grid.StartBmp.Width() != Grid.EndBmp.Width() || Grid.StartBmp.Height() != Grid.EndBmp.Height())
        throw EAlignError(Format("The start picture (%d x %d) and the end picture (%d x %d) differ in size.",
                                 Grid.StartBmp.Width(), Grid.StartBmp.Height(), Grid.EndBmp.Width(),
                                 Grid.EndBmp.Height()));
}

std::shared_ptr<const TFaceModel> LoadModel(const TAlignOptions& Options) {
    return TFaceModel::Load(Options.ModelFile.empty() ? DefaultFaceModelFile() : Options.ModelFile);
}

TFace OneFace(const TBitmap& Picture, const TFaceModel& Model, const char* Which, std::vector<std::string>& Notes) {
    TFace face = FindFace(Picture, Model);
    if (face.FacesFound == 0) throw EAlignError(std::string("No face found in the ") + Which + ".");
    if (face.FacesFound > 1) Notes.push_back(Format("%d faces in the %s: the largest is used.", face.FacesFound, Which));
    return face;
}

// Landmark to landmark, the picture corners held where they are so that the background
// follows the faces smoothly rather than swinging with them.
TThinPlateSpline FaceMap(const TFace& Start, const TFace& End, int32_t Width, int32_t Height) {
    std::vector<TPointD> from(Start.Points.begin(), Start.Points.end());
    std::vector<TPointD> to(End.Points.begin(), End.Points.end());
    for (TPointD corner : {TPointD{0, 0}, TPointD{double(Width), 0}, TPointD{0, double(Height)},
                           TPointD{double(Width), double(Height)}}) {
        from.push_back(corner);
        to.push_back(corner);
    }
    TThinPlateSpline map;
    map.Fit(from, to, 1e-4);
    return map;
}

int32_t RoundInto(double v, int32_t hi) { return int32_t(std::lround(std::clamp(v, 0.0, double(hi)))); }

// ---- the face grid --------------------------------------------------------------------

// Face columns: jaw, outer eye corner, inner eye corner, middle, inner and outer eye corner
// of the other eye, jaw (left to right in the picture); face rows: brows, eyes, nose, mouth,
// chin. Each node sits on a landmark, or on the middle of two (B >= 0).
struct TFaceNode {
    int Col, Row, A, B;
};
constexpr TFaceNode kFaceNodes[] = {
    {1, 0, 17, -1}, {2, 0, 21, -1}, {3, 0, 21, 22}, {4, 0, 22, -1}, {5, 0, 26, -1},                   // brows
    {0, 1, 0, -1},  {1, 1, 36, -1}, {2, 1, 39, -1}, {3, 1, 27, -1}, {4, 1, 42, -1}, {5, 1, 45, -1},  // eyes
    {6, 1, 16, -1}, {0, 2, 2, -1},  {2, 2, 31, -1}, {3, 2, 33, -1}, {4, 2, 35, -1}, {6, 2, 14, -1},  // nose
    {0, 3, 4, -1},  {2, 3, 48, -1}, {3, 3, 62, 66}, {4, 3, 54, -1}, {6, 3, 12, -1},                  // mouth
    {1, 4, 5, -1},  {2, 4, 7, -1},  {3, 4, 8, -1},  {4, 4, 9, -1},  {5, 4, 11, -1},                  // chin
};
// Where the columns and rows lie on an average face (0..1 across the jaw, brows to chin),
// with a ring around it (forehead and hair, cheeks, neck); the nodes no landmark fixes
// are placed by a smooth map from this layout.
constexpr double kColU[] = {-0.35, 0.0, 0.16, 0.34, 0.5, 0.66, 0.84, 1.0, 1.35};
constexpr double kRowV[] = {-0.55, 0.05, 0.18, 0.48, 0.69, 0.9, 1.25};
constexpr int kLayoutCols = 9, kLayoutRows = 7;  // face columns and rows are 1 .. 7 and 1 .. 5
constexpr int32_t kEdgeMargin = 4;

using TLayout = std::array<std::array<TPointD, kLayoutRows>, kLayoutCols>;

TLayout FaceLayout(const TFace& Face) {
    std::vector<TPointD> from, to;
    TLayout layout{};
    for (const TFaceNode& n : kFaceNodes) {
        TPointD p = Face.Points[size_t(n.A)];
        if (n.B >= 0) {
            p.X = (p.X + Face.Points[size_t(n.B)].X) / 2;
            p.Y = (p.Y + Face.Points[size_t(n.B)].Y) / 2;
        }
        from.push_back({kColU[n.Col + 1], kRowV[n.Row + 1]});
        to.push_back(p);
    }
    TThinPlateSpline map;
    map.Fit(from, to, 1e-3);
    for (int c = 0; c < kLayoutCols; ++c)
        for (int r = 0; r < kLayoutRows; ++r) layout[size_t(c)][size_t(r)] = map.Map({kColU[c], kRowV[r]});
    // The landmarks themselves exactly.
    for (size_t k = 0; k < from.size(); ++k)
        layout[size_t(kFaceNodes[k].Col + 1)][size_t(kFaceNodes[k].Row + 1)] = to[k];
    return layout;
}

// True when every triangle the renderer cuts the mesh into keeps its orientation (none is
// folded over or flat).
bool Unfolded(const TMesh& M, int32_t Cols, int32_t Rows) {
    auto cross = [](TPoint o, TPoint a, TPoint b) {
        return int64_t(a.X - o.X) * (b.Y - o.Y) - int64_t(a.Y - o.Y) * (b.X - o.X);
    };
    for (size_t i = 0; i + 1 < size_t(Cols); ++i)
        for (size_t j = 0; j + 1 < size_t(Rows); ++j)
            if (cross(M[i][j], M[i + 1][j], M[i][j + 1]) <= 0 || cross(M[i + 1][j], M[i + 1][j + 1], M[i][j + 1]) <= 0)
                return false;
    return true;
}

}  // namespace

bool ParseMatchMode(std::string_view Text, TMatchMode& Mode) {
    for (TMatchMode m : {TMatchMode::Auto, TMatchMode::Faces, TMatchMode::Similar})
        if (Text == MatchModeName(m)) {
            Mode = m;
            return true;
        }
    return false;
}

const char* MatchModeName(TMatchMode Mode) {
    switch (Mode) {
        case TMatchMode::Auto: return "auto";
        case TMatchMode::Faces: return "faces";
        case TMatchMode::Similar: return "similar";
    }
    return "?";
}

std::string DefaultFaceModelFile() {
    const char* env = std::getenv("QV_FACE_MODEL");
    return env != nullptr && *env != 0 ? std::string(env) : std::string(kInstalledModel);
}

TGridProposal ProposeMatchedEndGrid(const TMorphGrid& Grid, const TAlignOptions& Options) {
    CheckPictures(Grid);
    TGridProposal p;
    p.Cols = Grid.Cols;
    p.Rows = Grid.Rows;
    p.StartMesh = Grid.StartMesh;
    p.EndMesh = Grid.EndMesh;
    const int32_t w = Grid.StartBmp.Width(), h = Grid.StartBmp.Height();

    TMatchMode mode = Options.Mode;
    TFace startFace, endFace;
    std::shared_ptr<const TFaceModel> model;
    if (mode == TMatchMode::Auto) {
        try {
            model = LoadModel(Options);
        } catch (const EAlignError& e) {
            // Without the optional model Auto still matches similar pictures; a model the
            // user named is another matter.
            if (!Options.ModelFile.empty()) throw;
            p.Notes.push_back(std::string(e.what()) + " Matched as similar pictures.");
        }
        mode = TMatchMode::Similar;
        if (model) {
            startFace = FindFace(Grid.StartBmp, *model);
            endFace = FindFace(Grid.EndBmp, *model);
            if (startFace.FacesFound == 1 && endFace.FacesFound == 1) {
                mode = TMatchMode::Faces;
                p.Notes.push_back("One face in each picture: matched as faces.");
            } else if (startFace.FacesFound + endFace.FacesFound == 0) {
                p.Notes.push_back("No face found: matched as similar pictures.");
            } else {
                p.Notes.push_back(Format("%d faces in the start picture and %d in the end picture: matched as similar "
                                         "pictures.",
                                         startFace.FacesFound, endFace.FacesFound));
            }
        }
    } else if (mode == TMatchMode::Faces) {
        model = LoadModel(Options);
        startFace = OneFace(Grid.StartBmp, *model, "start picture", p.Notes);
        endFace = OneFace(Grid.EndBmp, *model, "end picture", p.Notes);
    }
    p.Used = mode;

    TThinPlateSpline map =
        mode == TMatchMode::Faces ? FaceMap(startFace, endFace, w, h) : MatchSimilar(Grid.StartBmp, Grid.EndBmp).Map;
    const int32_t cols = std::clamp<int32_t>(Grid.Cols, 0, MeshSize - 1);
    const int32_t rows = std::clamp<int32_t>(Grid.Rows, 0, MeshSize - 1);
    for (int32_t i = 0; i < cols; ++i)
        for (int32_t j = 0; j < rows; ++j) {
            const TPoint s = Grid.StartMesh[size_t(i)][size_t(j)];
            const TPointD e = map.Map({double(s.X), double(s.Y)});
            TPoint& out = p.EndMesh[size_t(i)][size_t(j)];
            out = {RoundInto(e.X, w), RoundInto(e.Y, h)};
            // Border points slide along their edge; the corners stay.
            if (i == 0) out.X = 0;
            if (i == Grid.Cols - 1) out.X = w;
            if (j == 0) out.Y = 0;
            if (j == Grid.Rows - 1) out.Y = h;
        }
    return p;
}

TGridProposal ProposeFaceGrid(const TMorphGrid& Grid, const TAlignOptions& Options) {
    CheckPictures(Grid);
    TGridProposal p;
    p.Used = TMatchMode::Faces;
    const int32_t w = Grid.StartBmp.Width(), h = Grid.StartBmp.Height();
    std::shared_ptr<const TFaceModel> model = LoadModel(Options);
    const TLayout layouts[2] = {FaceLayout(OneFace(Grid.StartBmp, *model, "start picture", p.Notes)),
                                FaceLayout(OneFace(Grid.EndBmp, *model, "end picture", p.Notes))};

    // The ring around the face is kept where it fits inside both pictures.
    auto fits = [&](int c0, int c1, int r0, int r1) {
        for (const TLayout& l : layouts)
            for (int c = c0; c <= c1; ++c)
                for (int r = r0; r <= r1; ++r) {
                    const TPointD q = l[size_t(c)][size_t(r)];
                    if (q.X < kEdgeMargin || q.Y < kEdgeMargin || q.X > w - kEdgeMargin || q.Y > h - kEdgeMargin)
                        return false;
                }
        return true;
    };
    std::vector<int> rows, cols;
    const bool top = fits(1, kLayoutCols - 2, 0, 0), bottom = fits(1, kLayoutCols - 2, kLayoutRows - 1, kLayoutRows - 1);
    const int r0 = top ? 0 : 1, r1 = bottom ? kLayoutRows - 1 : kLayoutRows - 2;
    for (int r = r0; r <= r1; ++r) rows.push_back(r);
    if (fits(0, 0, r0, r1)) cols.push_back(0);
    for (int c = 1; c < kLayoutCols - 1; ++c) cols.push_back(c);
    if (fits(kLayoutCols - 1, kLayoutCols - 1, r0, r1)) cols.push_back(kLayoutCols - 1);

    p.Cols = int32_t(cols.size()) + 2;
    p.Rows = int32_t(rows.size()) + 2;
    for (int side = 0; side < 2; ++side) {
        TMesh& m = side == 0 ? p.StartMesh : p.EndMesh;
        for (size_t ci = 0; ci < cols.size(); ++ci)
            for (size_t ri = 0; ri < rows.size(); ++ri) {
                const TPointD q = layouts[side][size_t(cols[ci])][size_t(rows[ri])];
                m[ci + 1][ri + 1] = {RoundInto(q.X, w), RoundInto(q.Y, h)};
            }
        // The picture's edges: each border point level with its neighbour inside.
        const size_t lastCol = size_t(p.Cols - 1), lastRow = size_t(p.Rows - 1);
        for (size_t ri = 1; ri < lastRow; ++ri) {
            m[0][ri] = {0, m[1][ri].Y};
            m[lastCol][ri] = {w, m[lastCol - 1][ri].Y};
        }
        for (size_t ci = 1; ci < lastCol; ++ci) {
            m[ci][0] = {m[ci][1].X, 0};
            m[ci][lastRow] = {m[ci][lastRow - 1].X, h};
        }
        m[0][0] = {0, 0};
        m[lastCol][0] = {w, 0};
        m[0][lastRow] = {0, h};
        m[lastCol][lastRow] = {w, h};
        if (!Unfolded(m, p.Cols, p.Rows))
            throw EAlignError(std::string("The face in the ") + (side == 0 ? "start" : "end") +
                              " picture is cut off by the edge or turned too far for a face grid.");
    }
    return p;
}

void ApplyProposal(TMorphGrid& Grid, const TGridProposal& Proposal) {
    Grid.Cols = Proposal.Cols;
    Grid.Rows = Proposal.Rows;
    Grid.StartMesh = Proposal.StartMesh;
    Grid.EndMesh = Proposal.EndMesh;
    if (Grid.SelCol >= Grid.Cols || Grid.SelRow >= Grid.Rows) {
        Grid.SelCol = -1;
        Grid.SelRow = -1;
    }
}

}  // namespace qv
