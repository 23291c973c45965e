#include "tests/plugin/lifecycle/test_environment.h"

#include <QDir>
#include <QSettings>

#include "tests/support/system.h"

namespace orvanta::test {

IsolatedUserFolders::IsolatedUserFolders() {
    if (!m_root.isValid())
        return;
    for (const QString& folder : {home(), configHome(), temporary()})
        QDir().mkpath(folder);
    m_variables.emplace_back("HOME", QFile::encodeName(home()));
    m_variables.emplace_back("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    m_variables.emplace_back("TMPDIR", QFile::encodeName(temporary()));
    m_variables.emplace_back("TMP", QFile::encodeName(temporary()));  // Windows
    m_variables.emplace_back("TEMP", QFile::encodeName(temporary()));
    m_variables.emplace_back("XDG_PUBLICSHARE_DIR", QByteArray());
    m_variables.emplace_back("XDG_RUNTIME_DIR", QByteArray());
    clearRegistryStore();
}

IsolatedUserFolders::~IsolatedUserFolders() {
    clearRegistryStore();
}

// On Windows the store is the user's registry, which no variable moves: the organisation's keys are
// emptied instead. Programs that use the store must then not run side by side.
void IsolatedUserFolders::clearRegistryStore() {
    if (xel::test::kWindows)
        QSettings(QStringLiteral("Plimsor"), QStringLiteral("Orvanta Render")).clear();
}

QString IsolatedUserFolders::makeFolder(const QString& relative) const {
    const QString folder = m_root.path() + QLatin1Char('/') + relative;
    QDir().mkpath(folder);
    return folder;
}

}  // namespace orvanta::test
