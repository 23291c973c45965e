// What crossed, counted by the render window: every message it received, by type, with its payload
// bytes, for its log ("messages received ...", which the host driver's summary reads); and the
// changes applied since the last look, in words, for the view window's title.
#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace orvanta::render_window {

class MessageTally {
public:
    // Counts one received message of `type` with `size` payload bytes. Any thread.
    void add(const std::string& type, long size);
    // "messages received <type>=<count>/<bytes> ...", the types in byte order of their names;
    // "messages received" alone before the first message. Any thread.
    QString line() const;
    // The scene changes among the messages counted since the last call, in words, the kinds in a
    // fixed order: "6 meshes, 5 instances, 1 visibility change"; empty when none. Messages that
    // change no scene content (state, transactions, echoes, requests, the camera, attributes) are
    // left out. Any thread.
    QString changesSinceLastCall();

private:
    struct Count {
        std::int64_t messages = 0;
        std::int64_t bytes = 0;
    };
    mutable std::mutex m_mutex;
    std::map<std::string, Count> m_total;          // under m_mutex
    std::map<std::string, std::int64_t> m_recent;  // under m_mutex
};

// The view window's title: "Orvanta render window — <model> — <meshes> meshes, <triangles>
// triangles — last: <change>", the model part left out while no title is known and the last part
// while nothing has changed.
QString viewTitle(const QString& model, int meshes, std::int64_t triangles, const QString& change);

}  // namespace orvanta::render_window
