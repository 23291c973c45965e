// The other process of the cross-process tests. It reads one command per line from standard input
// and answers each with one line (or a counted block of lines) on standard output.
//
//   xel_test_peer channel QUEUE_ID SEGMENT_BYTES   a channel end; answers "ready CREATOR" first
//     run | send TYPE SIZE SEED COUNT | async TYPE SIZE SEED COUNT | idle | expect N | quit
//   xel_test_peer lock NAME            locks the named inter-process mutex, answers "locked"
//   xel_test_peer sweep                removes what crashed test processes left behind
//   xel_test_peer wait-event NAME      answers "waiting", then "signalled" once the auto-reset
//                                      event is set
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "render_link/channel/message_channel.h"
#include "tests/support/channel_test_support.h"

using namespace xel;

namespace {

void say(const std::string& line) {
    std::cout << line << std::endl;  // flushed: the test waits for it
}

int runChannel(long queueId, std::size_t segmentBytes) {
    test::RecordingObserver observer;
    ChannelOptions options;
    options.segmentBytes = segmentBytes;
    auto channel = std::make_unique<MessageChannel>(&observer, queueId, options);
    observer.answerEchoesOn(channel.get());
    say(std::string("ready ") + (channel->isCreator() ? "1" : "0"));
    std::size_t reported = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "run") {
            channel->run();
            say(observer.waitForConnected() ? "ok" : "error " + observer.errors().front());
        } else if (command == "send" || command == "async") {
            std::string type;
            std::size_t size = 0;
            std::uint32_t seed = 0;
            int count = 0;
            in >> type >> size >> seed >> count;
            for (int i = 0; i < count; ++i) {
                const auto bytes = test::pattern(size, seed + i);
                if (command == "send")
                    channel->sendMessage(type.c_str(), bytes.data(), static_cast<long>(size));
                else
                    channel->sendMessageAsync(type.c_str(), bytes.data(), size);
            }
            say("ok");
        } else if (command == "idle") {
            channel->waitForAsyncIdle();
            say("ok");
        } else if (command == "expect") {
            std::size_t count = 0;
            in >> count;
            if (!observer.waitForMessages(reported + count)) {
                say("timeout " + std::to_string(observer.messages().size() - reported));
                continue;
            }
            const auto messages = observer.messages();
            say("got " + std::to_string(count));
            for (std::size_t i = reported; i < reported + count; ++i)
                say("msg " + messages[i].type + " " + std::to_string(messages[i].data.size()) +
                    " " +
                    std::to_string(test::digest(messages[i].data.data(), messages[i].data.size())));
            reported += count;
        } else if (command == "quit") {
            channel.reset();
            say("bye");
            return 0;
        } else {
            say("unknown " + command);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "channel" && argc == 4)
        return runChannel(std::stol(argv[2]), std::stoull(argv[3]));
    if (mode == "sweep") {
        std::printf("removed the leftovers of %d queue ids\n", test::sweepTestLeftovers());
        return 0;
    }
    if (mode == "lock" && argc == 3) {
        auto mutex = platform::InterProcessMutex::open(
            argv[2], platform::InterProcessMutex::OpenMode::OpenExisting);
        if (!mutex || mutex->lock() == platform::InterProcessMutex::LockResult::Failed) {
            say("failed");
            return 1;
        }
        say("locked");
        std::string line;
        std::getline(std::cin, line);  // held until killed or told
        mutex->unlock();
        return 0;
    }
    if (mode == "wait-event" && argc == 3) {
        auto event = platform::NamedEvent::open(argv[2], platform::NamedEvent::ResetMode::Auto,
                                                platform::NamedEvent::OpenMode::OpenOrCreate);
        if (!event)
            return 1;
        say("waiting");
        say(event->wait(120000) ? "signalled" : "timeout");
        return 0;
    }
    std::fprintf(stderr, "usage: see the comment at the top of test_peer.cpp\n");
    return 2;
}
