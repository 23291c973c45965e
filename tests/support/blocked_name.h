// Test support: a platform object name that cannot be created while it is held.
#pragma once

#include <memory>
#include <string>

namespace xel::test {

// While it lives, the library's objects of `kind` ("event", "mutex") named `name` cannot be
// created: the name is held by an object of another type. blocked() tells whether it took.
class BlockedObjectName {
public:
    BlockedObjectName(const char* kind, const std::string& name);
    ~BlockedObjectName();
    BlockedObjectName(const BlockedObjectName&) = delete;
    BlockedObjectName& operator=(const BlockedObjectName&) = delete;

    bool blocked() const;

private:
    struct Holder;
    std::unique_ptr<Holder> m_holder;
};

}  // namespace xel::test
