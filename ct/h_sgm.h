#pragma once
// The sinogram of one slice and the routine that builds it from the image stack.
//
// A sinogram holds one detector line per projection image, resampled onto a grid
// of odd width centred on the centre of rotation: sample j of a row lies at
// detector position cor - half + 1 + j, so the centre falls on sample half - 1.
// Row k is the projection at angle k * 180 deg / rows (plus the angle offset);
// the stack is taken to cover half a turn.
//
// Threads: genSinogram0 touches only the holder it is given and reads the
// stack, so several threads may build sinograms of their own at once.
#include <cstdint>
#include <memory>

class ImgDatas;
class ImgData;

// Sinogram holder: owns its two arrays, both rows x width, row-major [k][j].
struct HSgm {
    HSgm() = default;
    HSgm(const HSgm &) = delete;
    HSgm &operator=(const HSgm &) = delete;
    HSgm(HSgm &&) noexcept = default;
    HSgm &operator=(HSgm &&) noexcept = default;

    // Frees both arrays, stores width and rows, and allocates both arrays with
    // width * rows values (contents undefined) when that product is positive.
    // Arrays that already hold exactly that many values are kept instead (a
    // rebuild of the same size writes over them: no new pages to fault in).
    // Returns false (arrays absent, sizes kept) when the allocation fails.
    bool resize(int width, int rows);

    // True when both arrays are present and width * rows > 0: a sinogram was built.
    bool built() const { return sgm && raw && width > 0 && rows > 0; }

    // Row k of the attenuation / of the resampled intensity (width values).
    const double *sgmRow(int k) const { return sgm.get() + std::int64_t(k) * width; }
    const double *rawRow(int k) const { return raw.get() + std::int64_t(k) * width; }
    double *sgmRow(int k) { return sgm.get() + std::int64_t(k) * width; }
    double *rawRow(int k) { return raw.get() + std::int64_t(k) * width; }

    std::unique_ptr<double[]> sgm; // attenuation ln((I0 - BG) / (I - BG)), the reconstruction input
    std::unique_ptr<double[]> raw; // measured intensity I after resampling onto the centred grid
    int width = 0; // samples per projection (odd when built: 2 * half - 1)
    int rows = 0; // number of projections = number of images in the stack
    int slice = 0; // slice number it was built for
};

// Geometry of one build: where the centred grid lies on the detector line.
struct CorGeometry {
    bool rotAxIsV = true; // rotation axis vertical: slices are image rows, else columns
    int half = 0; // floor(min(cor, nDet - cor - 1))
    int width = 0; // 2 * half - 1 (may be <= 0: nothing to build)
    double cor = 0.0; // centre of rotation, detector pixels
    int corInt = 0; // floor(cor)
    double corFrac = 0.0; // cor - floor(cor)

    // The geometry for a detector line of nDet pixels. False when no sinogram
    // can be built for this centre: cor not finite, floor(cor) <= 0 or
    // ceil(cor) >= nDet; g is then left unchanged.
    static bool compute(bool rotAxIsV, double cor, int nDet, CorGeometry &g);
};

// Resamples one detector line onto the centred grid by linear interpolation:
// out[i + half - 1] = line[idx] + corFrac * (line[idx + 1] - line[idx]),
// idx = corInt + i, for i = 1 - half ... half - 1. Writes g.width values; reads
// line[corInt + 1 - half ... corInt + half], all inside a line of nDet pixels
// when g came from CorGeometry::compute.
void resampleLine(const double *line, const CorGeometry &g, double *out);

// Builds the sinogram of slice `slice` (an image row when rotAxIsV, else an image
// column) from every image of the stack, with the stack's current I0 image
// (absent: 1.0) and BG image (absent: 0.0):
//   sgm[k][j] = ln(a / b), a = i0[j] - bg[j], b = raw[k][j] - bg[j],
// where a and b are each replaced by 1 when not greater than 0.
// Returns true when a sinogram was built (hSgm->built()).
// A centre outside the detector leaves the holder as it was, silently. A slice
// outside the image lines, or an image, I0 or BG of another size than the stack,
// is refused with a log line and also leaves the holder as it was. A
// projection file that changed since it was loaded (ImgData::checkFile, asked
// after the lines were read) refuses the build with a log line naming the file
// and leaves the holder without arrays. A centre that
// leaves no sample (width <= 0) or an empty stack resizes the holder to no arrays.
bool genSinogram0(HSgm *hSgm, const ImgDatas *stack, bool rotAxIsV, double cor, int slice);

// The same on plain images of imgWidth x imgHeight pixels: projections[0 .. count-1]
// in stack order; i0 and bg may be null. Every image must have that size (checked).
bool genSinogram0(HSgm *hSgm, int imgWidth, int imgHeight, const ImgData *const *projections,
    int count, const ImgData *i0, const ImgData *bg, bool rotAxIsV, double cor, int slice);
