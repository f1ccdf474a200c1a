#include "commands.hpp"

#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "page_description.hpp"
#include "recognition_service.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <iomanip>
#include <map>
#include <optional>
#include <thread>

namespace kestrel::devservice {
namespace {

constexpr const char* kUsage =
    "usage: kestrel-devservice import FOLDER [--db FILE]\n"
    "       kestrel-devservice add-key KEY [--db FILE]\n"
    "       kestrel-devservice serve [--db FILE] [--host 127.0.0.1] [--port 8765]\n"
    "       kestrel-devservice stats [--db FILE]\n"
    "The catalogue file defaults to kestrel-devservice.sqlite in the working folder;\n"
    "serve --port 0 takes any free port. serve prints \"listening on http://HOST:PORT\".\n";

struct Arguments {
    std::string command;
    std::vector<std::string> positional;
    std::map<std::string, std::string> options; // "--db" -> value
};

std::optional<Arguments> parse(const std::vector<std::string>& words, std::ostream& err) {
    if (words.empty()) return std::nullopt;
    Arguments arguments{words[0], {}, {}};
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--db" || word == "--host" || word == "--port") {
            if (i + 1 == words.size()) {
                err << word << " needs a value\n";
                return std::nullopt;
            }
            arguments.options[word] = words[++i];
        } else if (word.starts_with("--")) {
            err << "unknown option " << word << "\n";
            return std::nullopt;
        } else {
            arguments.positional.push_back(word);
        }
    }
    return arguments;
}

std::string option(const Arguments& arguments, const std::string& name, std::string fallback) {
    const auto found = arguments.options.find(name);
    return found == arguments.options.end() ? fallback : found->second;
}

int import(const Arguments& arguments, CatalogueStore& store, std::ostream& out) {
    const ImportSummary summary = importFolder(store, arguments.positional.at(0));
    for (const std::string& id : summary.pageIds) out << "page " << id << "\n";
    out << summary.pageIds.size() << " pages, " << summary.apiKeys << " API keys imported\n";
    return 0;
}

int stats(CatalogueStore& store, std::ostream& out) {
    out << std::left << std::setw(28) << "page" << std::setw(10) << "sessions" << std::setw(28)
        << "action"
        << "clicks\n";
    for (const PageStats& page : store.stats()) {
        out << std::setw(28) << page.pageId << std::setw(10) << page.sessions << "\n";
        for (const ActionClicks& action : page.actions)
            out << std::setw(38) << "" << std::setw(28) << action.actionId << action.clicks << "\n";
    }
    return 0;
}

// Serves until SIGINT or SIGTERM; the signals are taken by a thread of their own with sigwait,
// so that stopping runs as ordinary code, not in a signal handler.
int serve(const Arguments& arguments, CatalogueStore& store, std::ostream& out, std::ostream& err) {
    const std::string host = option(arguments, "--host", "127.0.0.1");
    const int port = std::stoi(option(arguments, "--port", "8765"));
    if (port < 0 || port > 65535) {
        err << "--port must be 0 to 65535\n";
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr); // inherited by every thread made from here on
    ::signal(SIGPIPE, SIG_IGN); // a closed standard output must not end the service

    const Catalogue catalogue(store);
    if (catalogue.size() == 0) err << "the catalogue is empty: nothing will be recognised\n";
    RecognitionService service(store, catalogue);
    const int bound = service.bind(host, port);
    out << catalogue.size() << " pages\nlistening on http://" << host << ":" << bound << std::endl;

    std::atomic<bool> finished{false};
    std::thread watcher([&] {
        int received = 0;
        sigwait(&signals, &received);
        if (!finished) err << "signal " << received << ": stopping\n";
        service.stop();
    });
    const bool served = service.run();
    finished = true;
    pthread_kill(watcher.native_handle(), SIGTERM); // wakes the watcher if no signal came
    watcher.join();
    return served ? 0 : 1;
}

} // namespace

int runCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    const auto arguments = parse(words, err);
    if (!arguments) {
        err << kUsage;
        return 2;
    }
    const std::string& command = arguments->command;
    const std::size_t wanted = command == "import" || command == "add-key" ? 1 : 0;
    if ((command != "import" && command != "add-key" && command != "serve" && command != "stats") ||
        arguments->positional.size() != wanted) {
        err << kUsage;
        return 2;
    }
    try {
        CatalogueStore store(option(*arguments, "--db", "kestrel-devservice.sqlite"));
        if (command == "import") return import(*arguments, store, out);
        if (command == "add-key") {
            store.addApiKey(arguments->positional[0]);
            out << "key added\n";
            return 0;
        }
        if (command == "stats") return stats(store, out);
        return serve(*arguments, store, out, err);
    } catch (const std::exception& error) {
        err << "kestrel-devservice: " << error.what() << "\n";
        return 1;
    }
}

} // namespace kestrel::devservice
