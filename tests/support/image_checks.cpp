#include "tests/support/image_checks.h"

namespace xel::test {

bool isUniform(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}

}  // namespace xel::test
