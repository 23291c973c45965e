#include "plugin/util/file_names.h"

#include <QString>

#include <gtest/gtest.h>

namespace {

TEST(PlainFileName, OnlyNamesOfOneEntryPass) {
    struct Case {
        QString name;
        bool plain;
    };
    const Case cases[] = {
        {QStringLiteral("pic.png"), true},
        {QStringLiteral("..pic"), true},
        {QStringLiteral("a..b"), true},
        {QStringLiteral("..."), true},
        {QStringLiteral("Bibliothèque"), true},
        {QStringLiteral(" "), true},
        {QString(), false},
        {QStringLiteral("."), false},
        {QStringLiteral(".."), false},
        {QStringLiteral("a/b"), false},
        {QStringLiteral("/a"), false},
        {QStringLiteral("a/"), false},
        {QStringLiteral("a\\b"), false},
        {QStringLiteral("C:x"), false},
        {QStringLiteral("x:"), false},
        {QStringLiteral("file:stream"), false},
        {QStringLiteral("a\rb"), false},
        {QStringLiteral("\x1f"), false},
        {QStringLiteral("\x7f"), false},
        {QString(QChar(0x9f)), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(orvanta::isPlainFileName(c.name), c.plain) << c.name.toStdString();
}

}  // namespace
