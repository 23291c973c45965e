// Test support: a process whose per-user folders all lie in one temporary folder.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <deque>

#include "tests/support/scoped_variable.h"

namespace orvanta::test {

// Points HOME, XDG_CONFIG_HOME and TMPDIR into a fresh temporary folder and removes
// XDG_PUBLICSHARE_DIR and XDG_RUNTIME_DIR (so the session folder goes into TMPDIR), for the life
// of the object. Set up before anything opens the settings
// store: the store takes its folder from the environment once per process.
class IsolatedUserFolders {
public:
    IsolatedUserFolders();
    ~IsolatedUserFolders();
    IsolatedUserFolders(const IsolatedUserFolders&) = delete;
    IsolatedUserFolders& operator=(const IsolatedUserFolders&) = delete;

    bool isValid() const { return m_root.isValid(); }
    QString home() const { return m_root.path() + QStringLiteral("/home"); }
    QString configHome() const { return m_root.path() + QStringLiteral("/config"); }
    QString temporary() const { return m_root.path() + QStringLiteral("/tmp"); }
    // A folder under the root, made if missing.
    QString makeFolder(const QString& relative) const;

private:
    static void clearRegistryStore();

    QTemporaryDir m_root;
    std::deque<xel::test::ScopedVariable> m_variables;  // restored before m_root goes
};

}  // namespace orvanta::test
