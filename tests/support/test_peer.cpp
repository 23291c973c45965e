// The other process of the cross-process tests. It reads one command per line from standard input
// and answers each with one line (or a counted block of lines) on standard output.
//
//   xel_test_peer channel QUEUE_ID SEGMENT_BYTES   a channel end; answers "ready CREATOR" first
//     run | send TYPE SIZE SEED COUNT | async TYPE SIZE SEED COUNT | idle | expect N | quit
//     slow MICROSECONDS (hold each message that long) | sync-echoes (answer "echo" with a
//     synchronous "echores"), both before run | await TYPE N (answers "got N" once N messages of
//     TYPE arrived) | pause (the handler holds the next message until resume) | resume
//   xel_test_peer lock NAME            locks the named inter-process mutex, answers "locked", and
//                                      unlocks and ends on the next input line
//   xel_test_peer QUEUE_ID MAIN_HANDLE PARENT_HANDLE SESSION_PATH
//                                      a render-window stand-in, as a sender starts it: attaches,
//                                      sends "INIT", then "enumEnt" with the text
//                                      "<4 arguments joined by |>|<cwd>|<starter pid>", and ends
//                                      without "EXIT" when it receives "echo"
//   xel_test_peer sweep                removes what crashed test processes left behind
//   xel_test_peer wait-event NAME      answers "waiting", then "signalled" once the auto-reset
//                                      event is set
//   xel_test_peer report FILE WORD...  writes FILE (in its working directory), one line a WORD:
//                                      "$NAME" as the variable's value, "." as the canonical
//                                      working directory, any other word as it is
#include <QDir>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/interprocess_mutex.h"
#include "platform/named_event.h"
#include "render_link/channel/message_channel.h"
#include "render_link/channel/payload_codec.h"
#include "render_link/launch_environment.h"
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
        } else if (command == "slow") {
            int microseconds = 0;
            in >> microseconds;
            observer.delayEachMessage(microseconds);
            say("ok");
        } else if (command == "pause") {
            observer.pauseDelivery();
            say("ok");
        } else if (command == "resume") {
            observer.resumeDelivery();
            say("ok");
        } else if (command == "sync-echoes") {
            observer.answerEchoesOn(channel.get(), true);
            say("ok");
        } else if (command == "await") {
            std::string type;
            std::size_t count = 0;
            in >> type >> count;
            say(observer.waitForType(type, count) ? "got " + std::to_string(count) : "timeout");
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

// Ends the process when an "echo" arrives, as a crashing render window would: no "EXIT".
class EndOnEcho : public XelInterProcessMessagesObserver {
public:
    void onMessage(const char* type, const void*, long) override {
        if (std::strcmp(type, "echo") == 0)
            std::_Exit(0);
    }
    void onChannelConnected() override {}
    void onChannelDisconnected() override {}
    void onError(int, const char*) override { std::_Exit(3); }
};

int runRenderStandIn(char** argv) {
    EndOnEcho observer;
    MessageChannel channel(&observer, std::stol(argv[1]));
    channel.run();
    channel.sendMessage("INIT", nullptr, 0);
    const QByteArray starter = qgetenv(kStarterPidVariable);
    const std::string text = std::string(argv[1]) + "|" + argv[2] + "|" + argv[3] + "|" + argv[4] +
                             "|" + QDir::currentPath().toStdString() + "|" + starter.toStdString();
    std::vector<char> payload(8 + text.size());
    PayloadWriter(payload.data(), payload.size()).putString(text);
    channel.sendMessage("enumEnt", payload.data(), static_cast<long>(payload.size()));
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));  // until "echo" ends the process
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "channel" && argc == 4)
        return runChannel(std::stol(argv[2]), std::stoull(argv[3]));
    if (argc == 5 && !mode.empty() && std::isdigit(static_cast<unsigned char>(mode[0])))
        return runRenderStandIn(argv);
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
    if (mode == "report" && argc >= 3) {
        std::string text;
        for (int i = 3; i < argc; ++i) {
            const std::string word = argv[i];
            if (word == ".")
                text += QDir::current().canonicalPath().toStdString();
            else if (word.size() > 1 && word[0] == '$')
                text += qEnvironmentVariable(word.c_str() + 1).toStdString();
            else
                text += word;
            text += '\n';
        }
        std::FILE* file = std::fopen(argv[2], "wb");
        if (!file)
            return 1;
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        return std::fclose(file) == 0 && written ? 0 : 1;
    }
    std::fprintf(stderr, "usage: see the comment at the top of test_peer.cpp\n");
    return 2;
}
