#include "tests/support/scoped_variable.h"

#include <QtGlobal>

namespace xel::test {

ScopedVariable::ScopedVariable(const char* name, const QByteArray& value)
    : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name)) {
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedVariable::~ScopedVariable() {
    if (m_had)
        qputenv(m_name, m_saved);
    else
        qunsetenv(m_name);
}

}  // namespace xel::test
