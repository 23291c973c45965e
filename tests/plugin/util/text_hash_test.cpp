#include "plugin/util/text_hash.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(TextHash, KnownValues) {
    EXPECT_EQ(orvanta::textHash(""), 0u);  // not 5381
    EXPECT_EQ(orvanta::textHash("abc"), 193485963u);
    EXPECT_EQ(orvanta::textHash("a"), 5381u * 33 + 97);
}

TEST(TextHash, HighBytesCountAsNegative) {
    // 0xE9 adds -23 at its step.
    EXPECT_EQ(orvanta::textHash("\xE9"), 5381u * 33 - 23);
}

// Writes `content` to `name` in `folder`; the file's path.
QString writeFile(const QTemporaryDir& folder, const char* name, const QByteArray& content) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

TEST(FileHash, HashesTheStandardBase64OfTheContent) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // "abc" is "YWJj": 5381 -> *33+'Y'(89) = 177662 -> *33+'W'(87) = 5862933 -> *33+'J'(74) =
    // 193476863 -> *33+'j'(106) = 6384736585, minus 2^32 = 2089769289.
    EXPECT_EQ(orvanta::fileHash(writeFile(folder, "abc", "abc")), 2089769289u);
    // 0xFB 0xFF is "+/8=": the standard alphabet and its padding. 5381 -> *33+'+'(43) = 177616 ->
    // *33+'/'(47) = 5861375 -> *33+'8'(56) = 193425431 -> *33+'='(61) = 6383039284, minus 2^32.
    EXPECT_EQ(orvanta::fileHash(writeFile(folder, "high", QByteArray("\xFB\xFF"))), 2088071988u);
}

TEST(FileHash, MissingEmptyOrUnreadableAnswersZero) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString empty = writeFile(folder, "empty", QByteArray());
    ASSERT_FALSE(empty.isEmpty());
    EXPECT_EQ(orvanta::fileHash(empty), 0u);
    EXPECT_EQ(orvanta::fileHash(folder.filePath(QStringLiteral("missing"))), 0u);
    EXPECT_EQ(orvanta::fileHash(folder.path()), 0u);  // a folder cannot be read as a file
    EXPECT_EQ(orvanta::fileHash(QString()), 0u);
}

}  // namespace
