// Checks on rendered pictures.
#pragma once

#include <QImage>

namespace xel::test {

// Whether every pixel of `image` has the colour of its top-left one; true for an empty image.
bool isUniform(const QImage& image);

}  // namespace xel::test
