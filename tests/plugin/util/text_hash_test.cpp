#include "plugin/util/text_hash.h"
#include "tests/support/system.h"

#include <QtGlobal>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

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

// The hash as the exports document it, worked out here over the whole content at once: djb2 with
// signed bytes over the content's standard Base64, 0 for no content.
std::uint32_t referenceHash(const QByteArray& content) {
    if (content.isEmpty())
        return 0;
    std::uint32_t hash = 5381;
    for (const char c : content.toBase64())
        hash =
            hash * 33 + static_cast<std::uint32_t>(static_cast<int>(static_cast<signed char>(c)));
    return hash;
}

// `size` bytes of every value, in an order that does not repeat with the block size.
QByteArray patternBytes(std::int64_t size) {
    QByteArray bytes(static_cast<int>(size), Qt::Uninitialized);
    std::uint32_t state = 12345;
    for (char& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<char>(state >> 24);
    }
    return bytes;
}

TEST(FileHash, FilesOfSeveralBlocksHashAsTheirWholeContent) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    constexpr std::int64_t kBlock = orvanta::kFileHashBlockBytes;
    static_assert(kBlock % 3 == 0);
    for (const std::int64_t size :
         {std::int64_t{1}, std::int64_t{2}, std::int64_t{4}, kBlock - 1, kBlock, kBlock + 1,
          kBlock + 2, 2 * kBlock, 2 * kBlock + 1, 5 * kBlock + 2}) {
        const QByteArray content = patternBytes(size);
        const QString path = writeFile(folder, "content", content);
        ASSERT_FALSE(path.isEmpty());
        EXPECT_EQ(orvanta::fileHash(path), referenceHash(content)) << size << " bytes";
    }
}

#ifndef Q_OS_WIN  // FIFOs and Unix-domain sockets

// fileHash() on a thread of its own; nothing when it has not returned within a deadline far longer
// than any refusal takes. A call that never returns is left behind on its thread.
std::optional<std::uint32_t> hashWithinDeadline(const QString& path) {
    auto result = std::make_shared<std::promise<std::uint32_t>>();
    std::future<std::uint32_t> answer = result->get_future();
    std::thread([result, path] { result->set_value(orvanta::fileHash(path)); }).detach();
    if (answer.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
        return std::nullopt;
    return answer.get();
}

TEST(FileHash, WhatIsNotARegularFileIsRefusedWithoutBeingOpened) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("fifo")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);

    const QByteArray socketPath = QFile::encodeName(folder.filePath(QStringLiteral("socket")));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(static_cast<std::size_t>(socketPath.size()), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.constData(),
                static_cast<std::size_t>(socketPath.size()));
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    const QString linkToFifo = folder.filePath(QStringLiteral("link-to-fifo"));
    ASSERT_TRUE(QFile::link(QFile::decodeName(fifo), linkToFifo));
    const QString brokenLink = folder.filePath(QStringLiteral("broken-link"));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("nothing")), brokenLink));

    const QString refused[] = {
        QFile::decodeName(fifo),  // opened for reading, it would wait for a writer forever
        linkToFifo,
        QStringLiteral("/dev/zero"),  // read, it would never end
        QStringLiteral("/dev/null"),
        QFile::decodeName(socketPath),
        folder.path(),
        folder.filePath(QStringLiteral("missing")),
        brokenLink,
        QString(),
    };
    for (const QString& path : refused) {
        const std::optional<std::uint32_t> hash = hashWithinDeadline(path);
        EXPECT_EQ(hash, std::optional<std::uint32_t>(0u)) << path.toStdString();
        if (!hash) {
            // Lets a reader blocked on the FIFO go, so the process can end.
            const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
    }
    ::close(listener);
}
#endif

TEST(FileHash, ALinkToARegularFileHashesAsTheFile) {
    if (xel::test::kWindows)
        GTEST_SKIP() << "a Windows shortcut is a file of its own, not a link";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QByteArray content = patternBytes(orvanta::kFileHashBlockBytes + 7);
    const QString path = writeFile(folder, "content", content);
    ASSERT_FALSE(path.isEmpty());
    const QString link = folder.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_EQ(orvanta::fileHash(link), referenceHash(content));
}

TEST(TextHash, PiecesHashAsTheirConcatenation) {
    struct Case {
        std::vector<std::string_view> pieces;
        std::string_view whole;
    };
    const Case cases[] = {
        {{}, ""},
        {{"", ""}, ""},
        {{"a", "", "bc"}, "abc"},
        {{"", "\xE9"}, "\xE9"},
        {{"YWJj", "ZA=="}, "YWJjZA=="},
    };
    for (const Case& c : cases) {
        orvanta::TextHasher hasher;
        for (std::string_view piece : c.pieces)
            hasher.add(piece);
        EXPECT_EQ(hasher.value(), orvanta::textHash(c.whole)) << c.whole;
    }
}

}  // namespace
