// Test support: the lines of a text file, as a log a test reads back.
#pragma once

#include <QString>
#include <QStringList>

namespace xel::test {

// The non-empty lines of the UTF-8 file at `path`, without their line ends; none when the file
// cannot be read.
QStringList fileLines(const QString& path);

}  // namespace xel::test
