// Removes every object of one queue id's channel. The start-up tests run it for their own
// process's channel, which the plug-in never takes down; it must run with the test's environment,
// since the segments' system keys derive from the temporary folder.
//   plugin_channel_cleanup QUEUE_ID
#include <cstdio>
#include <cstdlib>

#include "render_link/channel/message_channel.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::atol(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: see the comment at the top of channel_cleanup.cpp\n");
        return 2;
    }
    xel::MessageChannel::removeLeftovers(static_cast<qint32>(std::atol(argv[1])));
    return 0;
}
