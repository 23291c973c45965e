#include "plugin/util/units.h"

#include <QString>

#include <cstddef>

#include "plugin/lifecycle/app_settings.h"

namespace orvanta {
namespace {

// Each conversion is written as the host script computes it, so that results agree to the bit.
double toInchesByName(double value, const QString& unit) {
    if (unit.isEmpty() || unit == QLatin1String("in"))
        return value;
    if (unit == QLatin1String("ft"))
        return value * 12.0;
    if (unit == QLatin1String("mm"))
        return value / 25.4;
    if (unit == QLatin1String("cm"))
        return value / 2.54;
    if (unit == QLatin1String("m"))
        return (value * 100.0) / 2.54;
    return value;
}

}  // namespace

double lengthFromInches(double inches, std::string_view unit) {
    if (unit.empty() || unit == "in")
        return inches;
    if (unit == "ft")
        return inches / 12.0;
    if (unit == "mm")
        return inches * 25.4;
    if (unit == "cm")
        return inches * 2.54;
    if (unit == "m")
        return inches * 0.0254;
    return inches;
}

double lengthToInches(double value, const char* unit, const QByteArray& modelUnit) {
    const QString name = unit ? QString::fromUtf8(unit) : QString::fromUtf8(modelUnit);
    return toInchesByName(value, name.trimmed());
}

const char* keepLengthUnitText(const QByteArray& unit) {
    // Never destroyed, so that a pointer handed out stays readable while the process exits. The
    // shared copy keeps its bytes alive whatever later happens to `unit`.
    static QByteArray* const kept = new QByteArray;
    *kept = unit;
    return kept->constData();
}

std::int32_t* createIntegerBlock(std::int32_t count) {
    if (count < 0) {
        static xel::RefusalCount negative;
        appendRefusal(negative, "obrCreateIntRef",
                      QStringLiteral("a negative count (%1); it answers null").arg(count));
        return nullptr;
    }
    return new std::int32_t[count == 0 ? 1 : static_cast<std::size_t>(count)]();
}

void releaseIntegerBlock(std::int32_t* block) {
    delete[] block;
}

}  // namespace orvanta
