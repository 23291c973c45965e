// An environment variable set for the life of an object.
#pragma once

#include <QByteArray>

namespace xel::test {

// Sets `name` to `value`, or unsets it for a null value, and restores what was there (or its
// absence) when destroyed. `name` must outlive the object. The environment is the process's: no
// other thread may read or change it meanwhile.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_saved;
};

}  // namespace xel::test
