#include "sweep_options.h"

#include <charconv>

const char* const kSweepUsage = "usage: spc_sweep [--repetitions R] [--checkpoint DIR] [--log FILE] NETWORK...";

namespace {

constexpr int kMostRepetitions = 1000000;

// "--name VALUE" or "--name=VALUE": true when args[i] is the option, with its
// value in `value` (empty when it is missing) and i past it.
bool takeOption(const std::vector<std::string>& args, size_t& i, const std::string& name, std::string& value,
                bool& missing) {
    const std::string& a = args[i];
    if (a == name) {
        missing = i + 1 >= args.size();
        value = missing ? "" : args[++i];
        return true;
    }
    if (a.compare(0, name.size() + 1, name + "=") == 0) {
        value = a.substr(name.size() + 1);
        missing = value.empty();
        return true;
    }
    return false;
}

}  // namespace

std::string parseSweepOptions(const std::vector<std::string>& args, SweepOptions& options) {
    bool only_names = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        bool missing = false;
        if (only_names || a == "-" || a.empty() || a[0] != '-') {
            options.networks.push_back(a);
        } else if (a == "--") {
            only_names = true;
        } else if (a == "--help" || a == "-h") {
            options.help = true;
        } else if (takeOption(args, i, "--repetitions", value, missing)) {
            int r = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), r);
            if (missing || error != std::errc() || end != value.data() + value.size() || r < 1 ||
                r > kMostRepetitions) {
                return "--repetitions needs a whole number from 1 to " + std::to_string(kMostRepetitions);
            }
            options.repetitions = r;
        } else if (takeOption(args, i, "--checkpoint", value, missing)) {
            if (missing) return "--checkpoint needs a directory";
            options.checkpoint_dir = value;
        } else if (takeOption(args, i, "--log", value, missing)) {
            if (missing) return "--log needs a file name";
            options.log_file = value;
        } else {
            return "unknown option " + a;
        }
    }
    if (options.networks.empty() && !options.help) return "no network file given";
    return {};
}
