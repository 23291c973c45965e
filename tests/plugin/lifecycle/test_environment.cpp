#include "tests/plugin/lifecycle/test_environment.h"

#include <QDir>

#include <iterator>

namespace orvanta::test {
namespace {

const char* const kVariables[] = {"HOME", "XDG_CONFIG_HOME", "TMPDIR", "XDG_PUBLICSHARE_DIR",
                                  "XDG_RUNTIME_DIR"};

}  // namespace

IsolatedUserFolders::IsolatedUserFolders() {
    static_assert(std::size(kVariables) == kVariableCount);
    for (int i = 0; i < kVariableCount; ++i) {
        m_had[i] = qEnvironmentVariableIsSet(kVariables[i]);
        m_saved[i] = qgetenv(kVariables[i]);
    }
    if (!m_root.isValid())
        return;
    for (const QString& folder : {home(), configHome(), temporary()})
        QDir().mkpath(folder);
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("TMPDIR", QFile::encodeName(temporary()));
    qunsetenv("XDG_PUBLICSHARE_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
}

IsolatedUserFolders::~IsolatedUserFolders() {
    for (int i = 0; i < kVariableCount; ++i) {
        if (m_had[i])
            qputenv(kVariables[i], m_saved[i]);
        else
            qunsetenv(kVariables[i]);
    }
}

QString IsolatedUserFolders::makeFolder(const QString& relative) const {
    const QString folder = m_root.path() + QLatin1Char('/') + relative;
    QDir().mkpath(folder);
    return folder;
}

}  // namespace orvanta::test
