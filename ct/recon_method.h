#pragma once
// The reconstruction methods a calculator can use for a slice.
//
// Fbp:     the filtered back-projection of the kernel (ct/bp_kernel.h), exact to
//          its formula; the default.
// Fourier: direct Fourier gridding (ct/fourier_recon.h): the same slice, in the
//          same grid, geometry and scale, from one 2-D inverse transform.
#include <QString>

enum class ReconMethod { Fbp, Fourier };

// Number of methods, numbered 0 ... count - 1 in the order above, the order of
// the processing panel's choice.
constexpr int reconMethodCount = 2;

// The command name of a method: "fbp" or "fourier".
QString reconMethodName(ReconMethod method);
// The method with this command name in any letter case; false for another text.
bool reconMethodFromName(const QString &name, ReconMethod &method);
// The method of index 0 ... count - 1; Fbp for an index out of range.
ReconMethod reconMethodFromIndex(int index);
